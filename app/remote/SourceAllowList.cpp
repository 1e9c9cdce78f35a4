#include "app/remote/SourceAllowList.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "app/settings/DisplayText.h"

namespace {

constexpr std::string_view expected =
    "expected IPv4 or IPv6 addresses, each with an optional /prefix length (up to 32 for IPv4, "
    "128 for IPv6), separated by commas";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether the first `bits` bits of the two agree.
bool samePrefix(const uint8_t* left, const uint8_t* right, int bits) {
    const int wholeBytes = bits / 8;
    if (std::memcmp(left, right, static_cast<size_t>(wholeBytes)) != 0) {
        return false;
    }
    const int rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (left[wholeBytes] & mask) == (right[wholeBytes] & mask);
}

constexpr uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

std::optional<SourceAllowList> SourceAllowList::parse(std::string_view text, std::string& error) {
    SourceAllowList list;
    if (trimmed(text).empty()) {
        return list;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string_view entry = trimmed(text.substr(
            start, comma == std::string_view::npos ? text.size() - start : comma - start));
        if (list.rules_.size() == maximumEntries) {
            error = "more than " + std::to_string(maximumEntries) + " entries";
            return std::nullopt;
        }
        const std::optional<Rule> rule = parseRule(entry);
        if (!rule) {
            error = entry.empty()
                        ? "empty entry; " + std::string(expected)
                        : "bad entry '" + quotedRequestText(entry) + "'; " + std::string(expected);
            return std::nullopt;
        }
        list.rules_.push_back(*rule);
        if (comma == std::string_view::npos) {
            return list;
        }
        start = comma + 1;
    }
}

std::optional<SourceAllowList::Rule> SourceAllowList::parseRule(std::string_view entry) {
    const size_t slash = entry.find('/');
    // Long enough for any IPv6 text form, which inet_pton needs zero-terminated.
    const std::string address(entry.substr(0, slash));
    if (address.empty() || address.size() > INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    Rule rule;
    if (inet_pton(AF_INET, address.c_str(), rule.bytes.data()) == 1) {
        rule.ipv4 = true;
    } else if (inet_pton(AF_INET6, address.c_str(), rule.bytes.data()) != 1) {
        return std::nullopt;
    }
    const int maximum = rule.ipv4 ? 32 : 128;
    rule.prefixLength = maximum;
    if (slash != std::string_view::npos) {
        const std::string_view digits = entry.substr(slash + 1);
        const auto [end, problem] =
            std::from_chars(digits.data(), digits.data() + digits.size(), rule.prefixLength);
        if (digits.empty() || digits.size() > 3 || problem != std::errc() ||
            end != digits.data() + digits.size() || rule.prefixLength > maximum) {
            return std::nullopt;
        }
    }
    // ::ffff:10.0.0.0/120 is the rule 10.0.0.0/24, since sources are compared as IPv4.
    if (!rule.ipv4 && rule.prefixLength >= 96 &&
        std::memcmp(rule.bytes.data(), mappedPrefix, sizeof mappedPrefix) == 0) {
        std::memmove(rule.bytes.data(), rule.bytes.data() + 12, 4);
        std::fill(rule.bytes.begin() + 4, rule.bytes.end(), 0);
        rule.ipv4 = true;
        rule.prefixLength -= 96;
    }
    return rule;
}

bool SourceAllowList::allows(const NetworkEndpoint& source) const {
    std::array<uint8_t, 16> bytes{};
    bool ipv4 = false;
    if (source.length == 0) {
        return false;
    }
    if (source.address.ss_family == AF_INET) {
        const auto& address = reinterpret_cast<const sockaddr_in&>(source.address);
        std::memcpy(bytes.data(), &address.sin_addr, 4);
        ipv4 = true;
    } else if (source.address.ss_family == AF_INET6) {
        const auto& address = reinterpret_cast<const sockaddr_in6&>(source.address);
        std::memcpy(bytes.data(), &address.sin6_addr, 16);
        if (std::memcmp(bytes.data(), mappedPrefix, sizeof mappedPrefix) == 0) {
            std::memmove(bytes.data(), bytes.data() + 12, 4);
            ipv4 = true;
        }
    } else {
        return false;
    }
    return std::any_of(rules_.begin(), rules_.end(), [&](const Rule& rule) {
        return rule.ipv4 == ipv4 && samePrefix(rule.bytes.data(), bytes.data(), rule.prefixLength);
    });
}
