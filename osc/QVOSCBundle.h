#pragma once

#include <memory>
#include <optional>
#include <string>

#include "osc/QVOSCPacket.h"

// Packets (messages and bundles) grouped under one time tag.
class QVOSCBundle : public QVOSCPacket {
  public:
    QVOSCBundle() = default;  // no time stamp yet: encodes the "immediately" tag
    explicit QVOSCBundle(QVOSCTimePoint timeStamp);
    ~QVOSCBundle() override;

    static std::shared_ptr<QVOSCBundle> bundleWithTimestamp(QVOSCTimePoint timeStamp);

    std::optional<QVOSCTimePoint> timeStamp() const { return timeStamp_; }
    void setTimeStamp(QVOSCTimePoint timeStamp) { timeStamp_ = timeStamp; }

    // Empty when the bundle has no elements.
    void appendPacketizedData(QVOSCData& out) const override;
    // The time stamp prints in ISO 8601 UTC (2001-01-01T00:00:00Z, with .500 and the like only
    // for a sub-second part), distantPast as "immediately", a bundle never stamped as "(null)".
    std::string stringRepresentation() const override;

  protected:
    bool canHold(const QVOSCObject& object) const override;

  private:
    // "#bundle" and the time tag.
    void appendHeader(QVOSCData& out) const;

    std::optional<QVOSCTimePoint> timeStamp_;
};
