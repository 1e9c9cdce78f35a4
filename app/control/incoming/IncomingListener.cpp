#include "app/control/incoming/IncomingListener.h"

#include <cerrno>
#include <cstring>

#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"
#include "transport/NetworkEndpointText.h"

namespace keys = settings_keys;

namespace {

constexpr int ticksPerDropReport = 20;
// Reports without a new drop before the count leaves the status.
constexpr int quietReportsShown = 5;

}  // namespace

IncomingListener::IncomingListener(const SettingsModel& settings, MainLoop& mainLoop,
                                   const RemoteControl& remote, const Destination& destination,
                                   ControllerStatus& status)
    : settings_(settings),
      mainLoop_(mainLoop),
      remote_(remote),
      destination_(destination),
      status_(status) {}

void IncomingListener::tick() {
    if (++ticksSinceDropReport_ < ticksPerDropReport) {
        return;
    }
    ticksSinceDropReport_ = 0;
    const uint64_t dropped = listener_ ? listener_->droppedDatagramCount() : 0;
    if (dropped > droppedSeen_) {
        status_.droppedIncomingDatagrams = dropped;
        quietDropReports_ = 0;
    } else if (status_.droppedIncomingDatagrams > 0 && ++quietDropReports_ >= quietReportsShown) {
        status_.droppedIncomingDatagrams = 0;
    }
    // A new listener counts from 0 again.
    droppedSeen_ = dropped;

    status_.repliesDropped = remote_.droppedReplies();
    status_.commandsRefused = remote_.refusedCommands();
    status_.sendsDropped =
        (listener_ ? listener_->busySendCount() : 0) + destination_.droppedSends();
    if (listener_ && listener_->receiveErrorCount() > 0) {
        status_.receiveErrors = listener_->receiveErrorCount();
        status_.lastReceiveError = listener_->lastReceiveError();
    }
}

void IncomingListener::settingChanged(std::string_view key) {
    if (!keptClosed_ && (key == keys::zandorexListenPort || key == keys::listenAddress)) {
        open();
    }
}

void IncomingListener::close() {
    if (listener_) {
        listener_->stopListening();
        listener_.reset();
    }
}

void IncomingListener::open() {
    const auto port = static_cast<int32_t>(settings_.whole(keys::zandorexListenPort));
    close();
    // A listen address that cannot be used opens nothing: falling back to every interface
    // would open the program to the network the technician meant to keep out.
    const std::optional<std::string> address = settings_.text(keys::listenAddress);
    if (!address) {
        listener_ = QVOSCListener::defaultListenerOnPort(port, mainLoop_);
        status_.listenerError = listener_ ? std::string() : listenFailure(port, errno);
    } else if (const auto local = numericEndpoint(*address, port)) {
        listener_ = QVOSCListener::defaultListenerOnAddress(*local, mainLoop_);
        status_.listenerError =
            listener_ ? std::string() : listenFailure(*address, port, std::strerror(errno));
    } else {
        status_.listenerError =
            listenFailure(*address, port, "not an IPv4 or IPv6 address of this machine");
    }
    if (listener_) {
        listener_->setDelegate(delegate_);
    }
}

bool IncomingListener::sendPacketTo(const QVOSCPacket& packet,
                                    const NetworkEndpoint& destination) const {
    return listener_ && listener_->sendPacketTo(packet, destination);
}
