#include "app/remote/SourceAllowList.h"

#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Whether the first `bits` bits of the two agree. A length the parser never gives matches
// nothing rather than everything.
bool samePrefix(const uint8_t* left, const uint8_t* right, int bits) {
    if (bits < 0 || bits > 128) {
        return false;
    }
    const auto wholeBytes = static_cast<size_t>(bits / 8);
    if (std::memcmp(left, right, wholeBytes) != 0) {
        return false;
    }
    const int rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (left[wholeBytes] & mask) == (right[wholeBytes] & mask);
}

}  // namespace

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
        if (std::memcmp(bytes.data(), ipv4MappedPrefix.data(), ipv4MappedPrefix.size()) == 0) {
            std::memmove(bytes.data(), bytes.data() + 12, 4);
            std::fill(bytes.begin() + 4, bytes.end(), 0);
            ipv4 = true;
        }
    } else {
        return false;
    }
    return std::any_of(rules_.begin(), rules_.end(), [&](const SourceRule& rule) {
        return rule.ipv4 == ipv4 && samePrefix(rule.bytes.data(), bytes.data(), rule.prefixLength);
    });
}
