#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osc/QVOSCPool.h"
#include "osc/QVOSCTypes.h"

// An OSC address text; not validated (it need not begin with a slash).
class QVOSCAddress {
  public:
    // initWithString
    // The text is built in place: a temporary string moved in would be copied twice, since a
    // short text lives inside the string object.
    explicit QVOSCAddress(std::string_view address) : address_(address) {}

    // Nothing when `address` is nothing.
    static std::shared_ptr<QVOSCAddress> addressWithString(
        const std::optional<std::string_view>& address) {
        // Inline and by reference, so that neither the optional nor the new address is copied
        // through memory (a stalled load): an address is made for every message.
        return address ? makePooled<QVOSCAddress>(*address) : nullptr;
    }
    // "/" + each component, in order; no components give the empty text.
    static std::shared_ptr<QVOSCAddress> addressWithArray(
        const std::vector<std::string>& components);

    const std::string& address() const { return address_; }
    void setAddress(std::string address) { address_ = std::move(address); }

    void appendPacketizedData(QVOSCData& out) const;
    QVOSCData packetizedData() const;

  private:
    std::string address_;
};
