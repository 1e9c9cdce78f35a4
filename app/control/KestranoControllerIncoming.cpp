// The route of datagrams from Zandorex down to their messages, and to remote control.
#include "app/control/KestranoController.h"
#include "osc/QVOSCDecoder.h"

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
    readings.presetChanged = status_.presetChanged;
    // "peak" has always been the input's peak as held for the eye.
    if (!readings.mappings.empty()) {
        readings.mappings.front().samplePeak = status_.samplePeak;
    }
    return readings;
}

void KestranoController::reply(const QVOSCPacket& packet, const NetworkEndpoint& destination) {
    // A request that came over the connection is answered on it.
    if (destination_.replyOnConnection(packet) || listener_.sendPacketTo(packet, destination)) {
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
