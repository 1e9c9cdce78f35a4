#pragma once

#include "osc/QVOSCTypes.h"

// Anything that can be attached to a packet: arguments to messages, packets to bundles.
class QVOSCObject {
  public:
    virtual ~QVOSCObject() = default;

    // Appends this object's wire bytes to `out`.
    virtual void appendPacketizedData(QVOSCData& out) const = 0;

    // This object's wire bytes, made afresh on every call.
    QVOSCData packetizedData() const {
        QVOSCData out;
        appendPacketizedData(out);
        return out;
    }
};
