// libFuzzer target: the remoteControlFrom list, its parser and its matcher. The input is a list's
// text followed by sources to try. The properties hold for any list the parser takes: each rule
// is within its family's prefix lengths, no entry is skipped or merged, the list written back in
// canonical form reads as the same rules, a source is allowed exactly when a plain bit-by-bit
// comparison puts it inside some rule (its own address always, in either form), and the list
// with a comma more is refused. A violation aborts, so the fuzzer reports it.

#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/remote/SourceAllowList.h"
#include "app/settings/values/SourceList.h"

namespace {

void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

struct Source {
    bool ipv4 = false;
    std::array<uint8_t, 16> bytes{};
};

NetworkEndpoint endpointOf(const Source& source, bool asMappedIpv6) {
    NetworkEndpoint endpoint;
    if (source.ipv4 && !asMappedIpv6) {
        auto& address = reinterpret_cast<sockaddr_in&>(endpoint.address);
        address.sin_family = AF_INET;
        std::memcpy(&address.sin_addr, source.bytes.data(), 4);
        endpoint.length = sizeof address;
        return endpoint;
    }
    auto& address = reinterpret_cast<sockaddr_in6&>(endpoint.address);
    address.sin6_family = AF_INET6;
    if (source.ipv4) {
        std::memcpy(&address.sin6_addr, ipv4MappedPrefix.data(), ipv4MappedPrefix.size());
        std::memcpy(reinterpret_cast<uint8_t*>(&address.sin6_addr) + 12, source.bytes.data(), 4);
    } else {
        std::memcpy(&address.sin6_addr, source.bytes.data(), 16);
    }
    endpoint.length = sizeof address;
    return endpoint;
}

bool bitOf(const std::array<uint8_t, 16>& bytes, int bit) {
    return ((bytes[static_cast<size_t>(bit / 8)] >> (7 - bit % 8)) & 1) != 0;
}

// The reference: a source of the rule's family whose first prefixLength bits are the rule's.
bool inside(const SourceRule& rule, const Source& source) {
    if (rule.ipv4 != source.ipv4) {
        return false;
    }
    for (int bit = 0; bit < rule.prefixLength; ++bit) {
        if (bitOf(rule.bytes, bit) != bitOf(source.bytes, bit)) {
            return false;
        }
    }
    return true;
}

// Sources as a socket reports them: an IPv4-mapped IPv6 address is its IPv4 address.
Source normalised(Source source) {
    if (!source.ipv4 &&
        std::equal(ipv4MappedPrefix.begin(), ipv4MappedPrefix.end(), source.bytes.begin())) {
        std::memmove(source.bytes.data(), source.bytes.data() + 12, 4);
        std::fill(source.bytes.begin() + 4, source.bytes.end(), 0);
        source.ipv4 = true;
    }
    return source;
}

std::string canonicalText(const std::vector<SourceRule>& rules) {
    std::string text;
    for (const SourceRule& rule : rules) {
        char address[INET6_ADDRSTRLEN];
        require(inet_ntop(rule.ipv4 ? AF_INET : AF_INET6, rule.bytes.data(), address,
                          sizeof address) != nullptr);
        text += (text.empty() ? "" : ",") + std::string(address) + "/" +
                std::to_string(rule.prefixLength);
    }
    return text;
}

void checkSource(const SourceAllowList& list, const std::vector<SourceRule>& rules,
                 const Source& given) {
    const Source source = normalised(given);
    const bool expected = std::any_of(rules.begin(), rules.end(),
                                      [&](const SourceRule& rule) { return inside(rule, source); });
    require(list.allows(endpointOf(source, false)) == expected);
    if (source.ipv4) {
        require(list.allows(endpointOf(source, true)) == expected);
    }
}

// What a taken list may be written with, checked apart from the parser: numeric addresses, and
// after a slash one to three decimal digits (no sign, no space, no other base).
void checkWording(const std::string& text) {
    require(std::all_of(text.begin(), text.end(), [](char c) {
        return std::strchr(" \t,./:0123456789abcdefABCDEF", c) != nullptr && c != '\0';
    }));
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        std::string entry = text.substr(start, comma - start);
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (const size_t slash = entry.find('/'); slash != std::string::npos) {
            const std::string digits = entry.substr(slash + 1);
            require(!digits.empty() && digits.size() <= 3 &&
                    digits.find_first_not_of("0123456789") == std::string::npos);
        }
        start = comma + 1;
    }
}

void checkList(const std::string& text, const std::vector<SourceRule>& rules,
               const std::vector<Source>& probes) {
    require(!rules.empty() && rules.size() <= maximumSourceRules);
    require(rules.size() == static_cast<size_t>(std::count(text.begin(), text.end(), ',')) + 1);
    for (const SourceRule& rule : rules) {
        require(rule.prefixLength >= 0 && rule.prefixLength <= (rule.ipv4 ? 32 : 128));
        require(!rule.ipv4 || std::all_of(rule.bytes.begin() + 4, rule.bytes.end(),
                                          [](uint8_t byte) { return byte == 0; }));
        // A mapped rule long enough to name IPv4 sources only is held as IPv4.
        require(rule.ipv4 || rule.prefixLength < 96 ||
                !std::equal(ipv4MappedPrefix.begin(), ipv4MappedPrefix.end(), rule.bytes.begin()));
    }
    checkWording(text);
    std::string error;
    const auto again = parseSourceList(canonicalText(rules), error);
    require(again && *again == rules);
    require(!parseSourceList(text + ",", error) && !error.empty());

    const SourceAllowList list(rules);
    for (const Source& probe : probes) {
        checkSource(list, rules, probe);
    }
    for (const SourceRule& rule : rules) {
        const Source own{rule.ipv4, rule.bytes};
        // An IPv6 rule whose address is IPv4-mapped (a prefix shorter than 96 bits) may leave
        // that address out, since sources are compared as IPv4; any other rule takes its own.
        const bool comparedAsIs = normalised(own).ipv4 == rule.ipv4;
        checkSource(list, rules, own);
        require(!comparedAsIs || list.allows(endpointOf(own, false)));
        // The first bit past the prefix changed, which keeps the source inside, and the last bit
        // of it, which leaves the decision to the other rules.
        for (const int bit : {rule.prefixLength, rule.prefixLength - 1}) {
            if (bit >= 0 && bit < (rule.ipv4 ? 32 : 128)) {
                Source near = own;
                near.bytes[static_cast<size_t>(bit / 8)] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
                checkSource(list, rules, near);
                require(bit != rule.prefixLength || normalised(near).ipv4 != rule.ipv4 ||
                        list.allows(endpointOf(near, false)));
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string text = input.ConsumeRandomLengthString(4096);
    std::vector<Source> probes;
    while (input.remaining_bytes() > 0 && probes.size() < 64) {
        Source probe;
        probe.ipv4 = input.ConsumeBool();
        const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(probe.ipv4 ? 4 : 16);
        std::copy(bytes.begin(), bytes.end(), probe.bytes.begin());
        probes.push_back(probe);
    }
    std::string error;
    const auto rules = parseSourceList(text, error);
    if (!rules) {
        require(!error.empty());
        return 0;
    }
    checkList(text, *rules, probes);
    return 0;
}
