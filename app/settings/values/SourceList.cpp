#include "app/settings/values/SourceList.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "app/settings/values/DisplayText.h"
#include "app/settings/values/TrimmedText.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// inet_pton reads up to the first zero byte, so "10.0.0.1\0junk" would pass for 10.0.0.1 unless
// everything but the characters of a numeric address is turned away first.
bool onlyAddressCharacters(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
               c == ':';
    });
}

// The prefix length of `digits`: one to three decimal digits, at most `maximum`. No sign and no
// space: a length of -1 would otherwise compare no bit at all and let every source in.
std::optional<int> prefixLength(std::string_view digits, int maximum) {
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), isDigit)) {
        return std::nullopt;
    }
    int length = 0;
    for (const char digit : digits) {
        length = length * 10 + (digit - '0');
    }
    return length <= maximum ? std::optional(length) : std::nullopt;
}

// The rule of one entry, or nothing with `reason` saying what is wrong with it.
std::optional<SourceRule> parseRule(std::string_view entry, std::string& reason) {
    const size_t slash = entry.find('/');
    const std::string_view addressText = entry.substr(0, slash);
    if (!onlyAddressCharacters(addressText) || addressText.size() > INET6_ADDRSTRLEN) {
        reason = "not a numeric IPv4 or IPv6 address (no names, no %zone)";
        return std::nullopt;
    }
    // Zero-terminated, as inet_pton reads it.
    const std::string address(addressText);
    SourceRule rule;
    if (inet_pton(AF_INET, address.c_str(), rule.bytes.data()) == 1) {
        rule.ipv4 = true;
    } else if (inet_pton(AF_INET6, address.c_str(), rule.bytes.data()) != 1) {
        reason = "not a numeric IPv4 or IPv6 address (no names, no %zone)";
        return std::nullopt;
    }
    const int maximum = rule.ipv4 ? 32 : 128;
    rule.prefixLength = maximum;
    if (slash != std::string_view::npos) {
        const std::optional<int> length = prefixLength(entry.substr(slash + 1), maximum);
        if (!length) {
            reason =
                "the prefix length must be 0 to " + std::to_string(maximum) + " in decimal digits";
            return std::nullopt;
        }
        rule.prefixLength = *length;
    }
    if (!rule.ipv4 && rule.prefixLength >= 96 &&
        std::memcmp(rule.bytes.data(), ipv4MappedPrefix.data(), ipv4MappedPrefix.size()) == 0) {
        std::memmove(rule.bytes.data(), rule.bytes.data() + 12, 4);
        std::fill(rule.bytes.begin() + 4, rule.bytes.end(), 0);
        rule.ipv4 = true;
        rule.prefixLength -= 96;
    }
    return rule;
}

}  // namespace

std::optional<std::vector<SourceRule>> parseSourceList(std::string_view text, std::string& error) {
    std::vector<SourceRule> rules;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string_view entry = trimmedText(text.substr(
            start, comma == std::string_view::npos ? text.size() - start : comma - start));
        if (rules.size() == maximumSourceRules) {
            error = "more than " + std::to_string(maximumSourceRules) + " entries";
            return std::nullopt;
        }
        // An empty entry is refused, not skipped: "10.0.0.1,,::1" or a trailing comma most
        // likely lost an address, and a list that reads as empty must not pass for one.
        if (entry.empty()) {
            error = trimmedText(text).empty()
                        ? "no entries"
                        : "empty entry: two commas in a row, or one at an end";
            return std::nullopt;
        }
        std::string reason;
        const std::optional<SourceRule> rule = parseRule(entry, reason);
        if (!rule) {
            error = "bad entry '" + quotedRequestText(entry) + "': " + reason;
            return std::nullopt;
        }
        rules.push_back(*rule);
        if (comma == std::string_view::npos) {
            return rules;
        }
        start = comma + 1;
    }
}
