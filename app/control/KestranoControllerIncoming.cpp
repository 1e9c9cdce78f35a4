// The route of datagrams from Zandorex down to their messages.
#include "app/control/KestranoController.h"
#include "osc/QVOSCDecoder.h"

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
