#pragma once

#include <vector>

#include "app/settings/values/SourceList.h"
#include "transport/NetworkEndpoint.h"

// The sources remote control answers, from the rules of remoteControlFrom. A source given as an
// IPv4-mapped IPv6 address (::ffff:a.b.c.d, as a dual-stack socket reports IPv4 peers) counts as
// its IPv4 address, so one rule covers a peer however the listening socket sees it. No rules
// allow nobody. Pure.
class SourceAllowList {
  public:
    explicit SourceAllowList(std::vector<SourceRule> rules = {}) : rules_(std::move(rules)) {}

    bool allows(const NetworkEndpoint& source) const;

  private:
    std::vector<SourceRule> rules_;
};
