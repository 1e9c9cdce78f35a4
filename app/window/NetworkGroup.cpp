#include "app/window/NetworkGroup.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

NetworkGroup::NetworkGroup(KestranoController& controller, QWidget* parent)
    : QGroupBox(tr("Network"), parent),
      controller_(controller),
      hostLineEdit_(new QLineEdit(this)),
      listenAddressLineEdit_(new QLineEdit(this)),
      remoteControlCheckBox_(new QCheckBox(tr("Obey /kestrano/... commands"), this)) {
    setObjectName("networkGroup");
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    // Host names and IPv4/IPv6 addresses, scope included.
    const QRegularExpression hostCharacters("[A-Za-z0-9._:%-]*");

    hostLineEdit_->setObjectName("hostLineEdit");
    hostLineEdit_->setPlaceholderText(tr("127.0.0.1 (this machine)"));
    hostLineEdit_->setToolTip(
        tr("Host name, IPv4 or IPv6 address of the machine Zandorex runs on"));
    hostLineEdit_->setValidator(new QRegularExpressionValidator(hostCharacters, hostLineEdit_));
    form->addRow(tr("&Zandorex host:"), hostLineEdit_);
    connect(hostLineEdit_, &QLineEdit::editingFinished, this, [this] {
        const std::string host = hostLineEdit_->text().toStdString();
        if (host != controller_.zandorexHost().value_or(std::string())) {
            controller_.setZandorexHost(host);
        }
    });

    listenAddressLineEdit_->setObjectName("listenAddressLineEdit");
    listenAddressLineEdit_->setPlaceholderText(tr("every IPv4 address"));
    listenAddressLineEdit_->setToolTip(
        tr("Address of this machine to listen on; 127.0.0.1 refuses the network"));
    listenAddressLineEdit_->setValidator(
        new QRegularExpressionValidator(hostCharacters, listenAddressLineEdit_));
    form->addRow(tr("Listen on address:"), listenAddressLineEdit_);
    connect(listenAddressLineEdit_, &QLineEdit::editingFinished, this, [this] {
        const std::string address = listenAddressLineEdit_->text().toStdString();
        if (address != controller_.listenAddress().value_or(std::string())) {
            controller_.setListenAddress(address);
        }
    });

    remoteControlCheckBox_->setObjectName("remoteControlCheckBox");
    remoteControlCheckBox_->setToolTip(
        tr("Anyone who can reach the listen port can then change the settings; a listen address "
           "of 127.0.0.1 keeps the network out"));
    form->addRow(tr("Remote control:"), remoteControlCheckBox_);
    connect(remoteControlCheckBox_, &QCheckBox::toggled, this,
            [this](bool checked) { controller_.setRemoteControl(checked); });

    for (const ControllerProperty property :
         {ControllerProperty::zandorexHost, ControllerProperty::listenAddress,
          ControllerProperty::remoteControl}) {
        showProperty(property);
    }
}

bool NetworkGroup::showProperty(ControllerProperty property) {
    switch (property) {
        case ControllerProperty::zandorexHost:
            hostLineEdit_->setText(
                QString::fromStdString(controller_.zandorexHost().value_or(std::string())));
            return true;
        case ControllerProperty::listenAddress:
            listenAddressLineEdit_->setText(
                QString::fromStdString(controller_.listenAddress().value_or(std::string())));
            return true;
        case ControllerProperty::remoteControl: {
            const QSignalBlocker blocker(remoteControlCheckBox_);
            remoteControlCheckBox_->setChecked(controller_.remoteControl());
            return true;
        }
        default:
            return false;
    }
}
