#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osc/QVOSCTypes.h"

// An OSC address text; not validated (it need not begin with a slash).
class QVOSCAddress {
  public:
    explicit QVOSCAddress(std::string address);  // initWithString

    // Nothing when `address` is nothing.
    static std::shared_ptr<QVOSCAddress> addressWithString(std::optional<std::string_view> address);
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
