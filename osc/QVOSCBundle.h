#pragma once

#include <memory>
#include <optional>
#include <string>

#include "QVOSCPacket.h"

// Packets (messages and bundles) grouped under one time tag.
class QVOSCBundle : public QVOSCPacket {
public:
    QVOSCBundle() = default;  // no time stamp yet: encodes the "immediately" tag
    explicit QVOSCBundle(QVOSCTimePoint timeStamp);

    static std::shared_ptr<QVOSCBundle> bundleWithTimestamp(QVOSCTimePoint timeStamp);

    std::optional<QVOSCTimePoint> timeStamp() const { return timeStamp_; }
    void setTimeStamp(QVOSCTimePoint timeStamp) { timeStamp_ = timeStamp; }

    // Empty when the bundle has no elements.
    void appendPacketizedData(QVOSCData& out) const override;
    std::string stringRepresentation() const override;

protected:
    bool canHold(const QVOSCObject& object) const override;

private:
    std::optional<QVOSCTimePoint> timeStamp_;
};
