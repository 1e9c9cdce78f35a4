// The route of datagrams from Zandorex down to their messages.
#include "app/control/KestranoController.h"
#include "osc/QVOSCDecoder.h"

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
