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
      remoteControlCheckBox_(new QCheckBox(tr("Obey /kestrano/... &commands"), this)) {
    setObjectName("networkGroup");
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    hostLineEdit_->setObjectName("hostLineEdit");
    hostLineEdit_->setPlaceholderText(tr("127.0.0.1 (this machine)"));
    hostLineEdit_->setToolTip(
        tr("Host name, IPv4 or IPv6 address of the machine Zandorex runs on"));
    // Host names and IPv4/IPv6 addresses, scope included.
    hostLineEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[A-Za-z0-9._:%-]*"), hostLineEdit_));
    form->addRow(tr("Send to &host:"), hostLineEdit_);
    connect(hostLineEdit_, &QLineEdit::editingFinished, this, [this] {
        const std::string host = hostLineEdit_->text().toStdString();
        if (host != controller_.zandorexHost().value_or(std::string())) {
            controller_.setZandorexHost(host);
        }
    });

    for (const ControllerProperty property : {ControllerProperty::zandorexHost}) {
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
