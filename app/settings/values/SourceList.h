#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One source that may command: an IPv4 or IPv6 address and how many of its leading bits a
// source must share with it. An IPv4-mapped IPv6 rule (::ffff:10.0.0.0/120) is held as its IPv4
// rule (10.0.0.0/24), since sources are compared as IPv4 whichever way a socket reports them.
struct SourceRule {
    bool ipv4 = false;
    std::array<uint8_t, 16> bytes{};  // IPv4 in the first four, the rest 0
    int prefixLength = 0;             // 0 to 32 for IPv4, 0 to 128 for IPv6

    bool operator==(const SourceRule&) const = default;
};

inline constexpr size_t maximumSourceRules = 64;
// The first twelve bytes of an IPv4-mapped IPv6 address, ::ffff:a.b.c.d.
inline constexpr std::array<uint8_t, 12> ipv4MappedPrefix = {0, 0, 0, 0, 0,    0,
                                                             0, 0, 0, 0, 0xFF, 0xFF};

// The rules of a list such as "192.168.1.20,10.0.0.0/24,::1": one or more entries separated by
// commas, spaces around them allowed, a prefix length in decimal digits only. Nothing, with
// `error` saying which entry is wrong and why (quoted printable and short, since the text may
// come from anywhere), when any entry is refused: a list is taken whole or not at all, so that
// a slip never widens who may command. Pure.
std::optional<std::vector<SourceRule>> parseSourceList(std::string_view text, std::string& error);
