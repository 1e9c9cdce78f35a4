#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "osc/QVOSCDataUtilities.h"
#include "osc/QVOSCDecoder.h"
#include "osc/QVOSCTypes.h"

namespace osctest {

// Bytes from text such as "2F 61 00 00"; blanks are ignored.
inline QVOSCData bytes(std::string_view hex) {
    QVOSCData out;
    int high = -1;
    for (char c : hex) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0) {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return out;
}

inline QVOSCData concat(std::initializer_list<QVOSCData> parts) {
    QVOSCData out;
    for (const QVOSCData& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// The int32 size field followed by the element.
inline QVOSCData element(const QVOSCData& packet) {
    QVOSCData out = QVOSCDataUtilities::dataBlockFromInt(static_cast<int32_t>(packet.size()));
    out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

// "#bundle" and the time tag of 2001-01-01 00:00:00 UTC.
inline QVOSCData bundleHeader() {
    return bytes("23 62 75 6E 64 6C 65 00 BD FA 47 00 00 00 00 00");
}

// The 24-byte level message: "/zandorex/level" with the float 10.0.
inline QVOSCData levelMessageBytes() {
    return bytes("2F 7A 61 6E 64 6F 72 65 78 2F 6C 65 76 65 6C 00 2C 66 00 00 41 20 00 00");
}

inline std::shared_ptr<QVOSCMessage> levelMessage() {
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/zandorex/level"));
    message->attachArgument(QVOSCArgument::argumentWithFloat(10.0f));
    return message;
}

inline QVOSCTimePoint utc(int64_t unixSeconds, int64_t milliseconds = 0) {
    return QVOSCTimePoint(std::chrono::seconds(unixSeconds)) +
           std::chrono::milliseconds(milliseconds);
}

// 2001-01-01 00:00:00 UTC.
constexpr int64_t k2001 = 978'307'200;

}  // namespace osctest
