#include "osc/QVOSCDataUtilities.h"

#include <bit>
#include <cstring>
#include <limits>

namespace {

// Seconds from the NTP epoch (1900-01-01) to the Unix epoch (1970-01-01).
constexpr int64_t kNtpToUnixSeconds = 2'208'988'800;
constexpr int64_t kNanosPerSecond = 1'000'000'000;

// Appends `count` bytes followed by the zero bytes of the string padding rule (1 to 4).
void appendPadded(QVOSCData& out, const uint8_t* bytes, size_t count) {
    size_t start = out.size();
    out.resize(start + QVOSCDataUtilities::stringBlockSize(count));  // zeros are the padding
    if (count > 0) {
        std::memcpy(out.data() + start, bytes, count);
    }
}

}  // namespace

QVOSCData QVOSCDataUtilities::dataBlockFromInt(int32_t value) {
    QVOSCData out;
    appendInt(out, value);
    return out;
}

QVOSCData QVOSCDataUtilities::dataBlockFromUInt(uint32_t value) {
    QVOSCData out;
    appendUInt(out, value);
    return out;
}

QVOSCData QVOSCDataUtilities::dataBlockFromFloat(float value) {
    QVOSCData out;
    appendFloat(out, value);
    return out;
}

QVOSCData QVOSCDataUtilities::dataBlockFromString(std::string_view text) {
    QVOSCData out;
    appendString(out, text);
    return out;
}

QVOSCData QVOSCDataUtilities::dataBlockFromBlob(QVOSCBytes blob) {
    QVOSCData out;
    appendBlob(out, blob);
    return out;
}

QVOSCData QVOSCDataUtilities::paddedDataFromData(QVOSCBytes data) {
    QVOSCData out;
    appendPadded(out, data.data(), data.size());
    return out;
}

QVOSCData QVOSCDataUtilities::ntpTimestampFromNSDate(QVOSCTimePoint date) {
    QVOSCData out;
    appendNtpTimestamp(out, date);
    return out;
}

QVOSCData QVOSCDataUtilities::ntpTimestampForImmediate() {
    QVOSCData out;
    appendInt(out, 0);
    appendInt(out, 1);
    return out;
}

void QVOSCDataUtilities::appendInt(QVOSCData& out, int32_t value) {
    appendUInt(out, static_cast<uint32_t>(value));
}

std::array<uint8_t, 4> QVOSCDataUtilities::bytesFromUInt(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

void QVOSCDataUtilities::appendUInt(QVOSCData& out, uint32_t value) {
    const std::array<uint8_t, 4> bytes = bytesFromUInt(value);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void QVOSCDataUtilities::appendFloat(QVOSCData& out, float value) {
    appendUInt(out, std::bit_cast<uint32_t>(value));
}

void QVOSCDataUtilities::appendString(QVOSCData& out, std::string_view text) {
    if (!isAscii(text.data(), text.size())) {
        text = {};
    }
    appendPadded(out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void QVOSCDataUtilities::appendBlob(QVOSCData& out, QVOSCBytes blob) {
    appendInt(out, static_cast<int32_t>(blob.size()));
    out.insert(out.end(), blob.begin(), blob.end());
    out.resize(out.size() + (4 - blob.size() % 4) % 4);
}

void QVOSCDataUtilities::appendNtpTimestamp(QVOSCData& out, QVOSCTimePoint date) {
    if (date == distantPast) {
        appendInt(out, 0);
        appendInt(out, 1);
        return;
    }
    int64_t nanos =
        std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
    int64_t unixSeconds = nanos / kNanosPerSecond;
    int64_t subSecondNanos = nanos % kNanosPerSecond;
    if (subSecondNanos < 0) {  // floor, so that the fraction counts forward from the second
        unixSeconds -= 1;
        subSecondNanos += kNanosPerSecond;
    }
    int64_t ntpSeconds = unixSeconds + kNtpToUnixSeconds;
    if (ntpSeconds < 0) {  // before 1900: the earliest tag that is not "immediately"
        appendUInt(out, 0);
        appendUInt(out, 0);
        return;
    }
    if (ntpSeconds > std::numeric_limits<uint32_t>::max()) {  // from 2036-02-07 06:28:16 on
        appendUInt(out, std::numeric_limits<uint32_t>::max());
        appendUInt(out, std::numeric_limits<uint32_t>::max());
        return;
    }
    // Units of 2^-32 s, truncated; exact in 64 bits since subSecondNanos < 2^30.
    uint64_t fraction = (static_cast<uint64_t>(subSecondNanos) << 32) / kNanosPerSecond;
    appendUInt(out, static_cast<uint32_t>(ntpSeconds));
    appendUInt(out, static_cast<uint32_t>(fraction));
}

int32_t QVOSCDataUtilities::intFromDataBlock(QVOSCBytes data) {
    return static_cast<int32_t>(uIntFromDataBlock(data));
}

uint32_t QVOSCDataUtilities::uIntFromDataBlock(QVOSCBytes data) {
    if (data.size() < 4) {
        return 0;
    }
    return static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
           static_cast<uint32_t>(data[2]) << 8 | static_cast<uint32_t>(data[3]);
}

float QVOSCDataUtilities::floatFromDataBlock(QVOSCBytes data) {
    return std::bit_cast<float>(uIntFromDataBlock(data));
}

std::optional<std::string> QVOSCDataUtilities::stringFromDataBlock(QVOSCBytes data) {
    std::optional<std::string_view> text = stringViewFromDataBlock(data);
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

std::optional<QVOSCData> QVOSCDataUtilities::blobFromDataBlock(QVOSCBytes data) {
    int32_t size = intFromDataBlock(data);
    if (data.size() < 4 || size < 0 || data.size() - 4 < static_cast<size_t>(size)) {
        return std::nullopt;
    }
    return QVOSCData(data.begin() + 4, data.begin() + 4 + size);
}

QVOSCTimePoint QVOSCDataUtilities::dateFromNTPTimestamp(QVOSCBytes data) {
    uint32_t seconds = uIntFromDataBlock(data);
    uint32_t fraction = data.size() >= 8 ? uIntFromDataBlock(data.subspan(4)) : 0;
    if (seconds == 0 && fraction == 1) {
        return distantPast;
    }
    return QVOSCTimePoint(std::chrono::seconds(static_cast<int64_t>(seconds) - kNtpToUnixSeconds));
}
