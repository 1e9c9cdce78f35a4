// The route of datagrams from Zandorex down to their messages, the listener that receives them
// and remote control.
#include <cerrno>
#include <cstring>

#include "app/control/KestranoController.h"
#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"
#include "osc/QVOSCDecoder.h"
#include "transport/NetworkEndpointText.h"

namespace {

constexpr int ticksPerDropReport = 20;
// Reports without a new drop before the count leaves the status.
constexpr int quietReportsShown = 5;

}  // namespace

void KestranoController::reportDroppedDatagrams() {
    if (++ticksSinceDropReport_ < ticksPerDropReport) {
        return;
    }
    ticksSinceDropReport_ = 0;
    const uint64_t dropped = zandorexListener_ ? zandorexListener_->droppedDatagramCount() : 0;
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
        (zandorexListener_ ? zandorexListener_->busySendCount() : 0) + destination_.droppedSends();
    if (zandorexListener_ && zandorexListener_->receiveErrorCount() > 0) {
        status_.receiveErrors = zandorexListener_->receiveErrorCount();
        status_.lastReceiveError = zandorexListener_->lastReceiveError();
    }
}

void KestranoController::listenerSettingChanged(std::string_view key) {
    if (key == settings_keys::zandorexListenPort || key == settings_keys::listenAddress) {
        openListener();
    }
}

void KestranoController::openListener() {
    const int32_t port = zandorexListenPort();
    if (zandorexListener_) {
        zandorexListener_->stopListening();
        zandorexListener_.reset();
    }
    // A listen address that cannot be used opens nothing: falling back to every interface
    // would open the program to the network the technician meant to keep out.
    const std::optional<std::string> address = settings_.text(settings_keys::listenAddress);
    if (!address) {
        zandorexListener_ = QVOSCListener::defaultListenerOnPort(port, mainLoop_);
        status_.listenerError = zandorexListener_ ? std::string() : listenFailure(port, errno);
    } else if (const auto local = numericEndpoint(*address, port)) {
        zandorexListener_ = QVOSCListener::defaultListenerOnAddress(*local, mainLoop_);
        status_.listenerError =
            zandorexListener_ ? std::string() : listenFailure(*address, port, std::strerror(errno));
    } else {
        status_.listenerError =
            listenFailure(*address, port, "not an IPv4 or IPv6 address of this machine");
    }
    if (zandorexListener_) {
        zandorexListener_->setDelegate(fromZandorex_);
    }
}

void KestranoController::packetFromZandorexWithSource(std::shared_ptr<const QVOSCData> data,
                                                      const NetworkEndpoint& source) {
    if (!data) {
        return;
    }
    monitor_.record(MonitorEntry::Direction::in, source, data);
    if (remote_.admits(*data, source)) {
        remote_.obey(*data, source);
        return;
    }
    packetFromZandorex(std::move(data));
}

RemoteControl::Readings KestranoController::remoteReadings() const {
    RemoteControl::Readings readings;
    for (const MappingStatus& mapping : status_.mappings) {
        readings.mappings.push_back(
            {mapping.name, mapping.inputLevel, mapping.lastValueSent, mapping.samplePeak});
    }
    // "peak" has always been the input's peak as held for the eye.
    if (!readings.mappings.empty()) {
        readings.mappings.front().samplePeak = status_.samplePeak;
    }
    return readings;
}

void KestranoController::reply(const QVOSCPacket& packet, const NetworkEndpoint& destination) {
    // A request that came over the connection is answered on it.
    if (destination_.replyOnConnection(packet) ||
        (zandorexListener_ && zandorexListener_->sendPacketTo(packet, destination))) {
        monitor_.record(MonitorEntry::Direction::out, destination,
                        std::make_shared<const QVOSCData>(packet.packetizedData()));
    }
}

void KestranoController::packetFromZandorex(std::shared_ptr<const QVOSCData> data) {
    if (data) {
        decodePacket(QVOSCDecoder::decodeData(*data));
    }
}

void KestranoController::decodePacket(const std::shared_ptr<QVOSCPacket>& packet) {
    if (const auto message = std::dynamic_pointer_cast<QVOSCMessage>(packet)) {
        decodeMessage(*message);
        return;
    }
    if (!packet) {
        return;
    }
    // By index against the current count, depth-first: nested bundles are walked in place.
    for (size_t index = 0; index < packet->attachedObjects().size(); ++index) {
        decodePacket(std::dynamic_pointer_cast<QVOSCPacket>(packet->attachedObjects()[index]));
    }
}

void KestranoController::decodeMessage(const QVOSCMessage& /*message*/) {}
