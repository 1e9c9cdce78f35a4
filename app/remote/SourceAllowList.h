#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/NetworkEndpoint.h"

// The sources remote control answers: addresses and prefixes, IPv4 and IPv6, as in
// "192.168.1.20,10.0.0.0/24,::1". A source given as an IPv4-mapped IPv6 address (::ffff:a.b.c.d,
// as a dual-stack socket reports IPv4 peers) counts as its IPv4 address, so one rule covers a
// peer however the listening socket sees it. An empty list allows nobody. Pure.
class SourceAllowList {
  public:
    static constexpr size_t maximumEntries = 64;

    // The list in `text`; nothing with `error` saying which entry is wrong and why (the entry
    // quoted printable and short, since the text may come from anywhere).
    static std::optional<SourceAllowList> parse(std::string_view text, std::string& error);

    bool allows(const NetworkEndpoint& source) const;
    bool empty() const { return rules_.empty(); }

  private:
    struct Rule {
        bool ipv4 = false;
        std::array<uint8_t, 16> bytes{};  // IPv4 in the first four
        int prefixLength = 0;
    };

    static std::optional<Rule> parseRule(std::string_view entry);

    std::vector<Rule> rules_;
};
