#include "app/window/NetworkGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "app/settings/SettingsKeys.h"
#include "app/window/widgets/ReadOnlyText.h"

namespace {

QString keyText(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// A port field that takes effect when left or Return is pressed, not on every digit typed.
QSpinBox* portField(QWidget* parent, const char* name, std::string_view key, const QString& tip) {
    auto* port = new QSpinBox(parent);
    port->setObjectName(name);
    port->setProperty("setting", keyText(key));
    port->setKeyboardTracking(false);
    port->setMinimumWidth(100);
    port->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    port->setToolTip(tip);
    return port;
}

}  // namespace

NetworkGroup::NetworkGroup(QWidget* parent) : QGroupBox(tr("Network"), parent) {
    namespace keys = settings_keys;
    setObjectName("networkGroup");
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    form->addRow(tr("Send &port:"),
                 portField(this, "sendPortSpinBox", keys::zandorexSendPort,
                           tr("UDP port on this machine that Zandorex receives on")));
    form->addRow(tr("&Listen port:"),
                 portField(this, "listenPortSpinBox", keys::zandorexListenPort,
                           tr("UDP port this program receives Zandorex's messages on")));

    auto* host = new QLineEdit(this);
    host->setObjectName("hostLineEdit");
    host->setProperty("setting", keyText(keys::zandorexHost));
    host->setPlaceholderText(tr("127.0.0.1 (this machine)"));
    host->setToolTip(tr("Host name, IPv4 or IPv6 address of the machine Zandorex runs on"));
    form->addRow(tr("&Zandorex host:"), host);

    auto* protocol = new QComboBox(this);
    protocol->setObjectName("protocolComboBox");
    protocol->setProperty("setting", keyText(keys::zandorexProtocol));
    protocol->setToolTip(
        tr("UDP, or TCP where a datagram sent once may be lost (SLIP framing, "
           "or each packet preceded by its size)"));
    form->addRow(tr("Pro&tocol:"), protocol);

    auto* listenAddress = new QLineEdit(this);
    listenAddress->setObjectName("listenAddressLineEdit");
    listenAddress->setProperty("setting", keyText(keys::listenAddress));
    listenAddress->setPlaceholderText(tr("every IPv4 address"));
    listenAddress->setToolTip(
        tr("Address of this machine to listen on; 127.0.0.1 refuses the network"));
    form->addRow(tr("Listen on address:"), listenAddress);

    auto* remoteControl = new QCheckBox(tr("Obey /kestrano/... commands"), this);
    remoteControl->setObjectName("remoteControlCheckBox");
    remoteControl->setProperty("setting", keyText(keys::remoteControl));
    remoteControl->setToolTip(
        tr("Anyone who can reach the listen port can then change the settings; a listen address "
           "of 127.0.0.1 keeps the network out"));
    form->addRow(tr("Remote control:"), remoteControl);

    auto* allowed = new QLineEdit(this);
    allowed->setObjectName("remoteControlFromLineEdit");
    allowed->setProperty("setting", keyText(keys::remoteControlFrom));
    allowed->setPlaceholderText(tr("any source"));
    allowed->setToolTip(
        tr("Addresses and prefixes allowed to send commands, e.g. "
           "192.168.1.20,10.0.0.0/24,::1"));
    form->addRow(tr("Commands &from:"), allowed);

    form->addRow(
        tr("Browser page port:"),
        portField(this, "webPortSpinBox", keys::webPort,
                  tr("TCP port a browser reaches this program's live page on; off: no page")));
    auto* webAddress = new QLineEdit(this);
    webAddress->setObjectName("webAddressLineEdit");
    webAddress->setProperty("setting", keyText(keys::webAddress));
    webAddress->setPlaceholderText(tr("127.0.0.1 (this machine only)"));
    webAddress->setToolTip(
        tr("Address of this machine to serve the browser page on; the page has no password"));
    form->addRow(tr("Browser page address:"), webAddress);

    // A cleared list opens remote control to every source: that must not pass unnoticed.
    remoteAccess_ = new ReadOnlyText(this);
    remoteAccess_->setObjectName("remoteAccessText");
    // As wide as the form gives it; the whole text is in its tooltip.
    remoteAccess_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    remoteAccess_->setVisible(false);
    form->addRow(QString(), remoteAccess_);
}

void NetworkGroup::showRemoteAccess(const std::string& note) {
    remoteAccess_->setText(QString::fromStdString(note));
    remoteAccess_->setToolTip(remoteAccess_->text());
    remoteAccess_->setVisible(!note.empty());
}
