#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "osc/QVOSCTypes.h"

// Conversions between values and OSC data blocks. Big-endian on the wire; stateless.
class QVOSCDataUtilities {
  public:
    QVOSCDataUtilities() = delete;

    static QVOSCData dataBlockFromInt(int32_t value);
    static QVOSCData dataBlockFromUInt(uint32_t value);
    static QVOSCData dataBlockFromFloat(float value);
    // Text outside ASCII is written as the empty string block.
    static QVOSCData dataBlockFromString(std::string_view text);
    static QVOSCData dataBlockFromBlob(QVOSCBytes blob);
    // A copy followed by 1 to 4 zero bytes, up to a multiple of four.
    static QVOSCData paddedDataFromData(QVOSCBytes data);
    // Saturates outside the time tag's range: before 1900 gives 00000000.00000000, from
    // 2036-02-07 06:28:16 UTC on FFFFFFFF.FFFFFFFF. distantPast gives the "immediately" tag.
    static QVOSCData ntpTimestampFromNSDate(QVOSCTimePoint date);
    static QVOSCData ntpTimestampForImmediate();

    // The four big-endian bytes of `value`.
    static std::array<uint8_t, 4> bytesFromUInt(uint32_t value);

    // Appending forms of the writers, used to encode without intermediate buffers.
    static void appendInt(QVOSCData& out, int32_t value);
    static void appendUInt(QVOSCData& out, uint32_t value);
    static void appendFloat(QVOSCData& out, float value);
    static void appendString(QVOSCData& out, std::string_view text);
    static void appendBlob(QVOSCData& out, QVOSCBytes blob);
    static void appendNtpTimestamp(QVOSCData& out, QVOSCTimePoint date);

    // Readers: 0 when fewer than four bytes.
    static int32_t intFromDataBlock(QVOSCBytes data);
    static uint32_t uIntFromDataBlock(QVOSCBytes data);
    static float floatFromDataBlock(QVOSCBytes data);
    // The whole buffer as ASCII with zero characters trimmed from both ends; nothing if not ASCII.
    static std::optional<std::string> stringFromDataBlock(QVOSCBytes data);
    // The same text, as a view into `data`. Inline, like isAscii, because every message read
    // goes through it twice and a returned optional would be copied through memory.
    static std::optional<std::string_view> stringViewFromDataBlock(QVOSCBytes data) {
        if (!isAscii(data.data(), data.size())) {
            return std::nullopt;
        }
        size_t begin = 0;
        size_t end = data.size();
        while (begin < end && data[begin] == 0) {
            ++begin;
        }
        while (end > begin && data[end - 1] == 0) {
            --end;
        }
        return std::string_view(reinterpret_cast<const char*>(data.data()) + begin, end - begin);
    }

    // The size of the string block of a text of `length` characters: 1 to 4 zero bytes added.
    static size_t stringBlockSize(size_t length) { return length + 4 - length % 4; }

    // Whether no byte has its high bit set; eight bytes at a time, the last word overlapping the
    // one before it rather than a byte loop over the rest.
    static bool isAscii(const void* bytes, size_t count) {
        constexpr uint64_t kHighBits = 0x8080808080808080;
        const auto* at = static_cast<const unsigned char*>(bytes);
        uint64_t allBits = 0;
        if (count >= 8) {
            for (size_t index = 0; index + 8 < count; index += 8) {
                allBits |= wordAt<uint64_t>(at + index);
            }
            allBits |= wordAt<uint64_t>(at + count - 8);
        } else if (count >= 4) {
            allBits = wordAt<uint32_t>(at) | wordAt<uint32_t>(at + count - 4);
        } else {
            for (size_t index = 0; index < count; ++index) {
                allBits |= at[index];
            }
        }
        return (allBits & kHighBits) == 0;
    }
    // Nothing when the size field is negative or larger than the bytes that follow it.
    static std::optional<QVOSCData> blobFromDataBlock(QVOSCBytes data);
    // `data` holds the eight bytes of a time tag; the fraction is dropped.
    static QVOSCTimePoint dateFromNTPTimestamp(QVOSCBytes data);

    // Copies `bytes` to `to` and returns the end of the copy; an int or a float (four bytes)
    // without a library call, since one is copied for every argument sent and received.
    static uint8_t* copyBytes(QVOSCBytes bytes, uint8_t* to) {
        if (bytes.size() == 4) {
            std::memcpy(to, bytes.data(), 4);
            return to + 4;
        }
        return std::copy(bytes.begin(), bytes.end(), to);
    }

  private:
    template <class Word>
    static Word wordAt(const unsigned char* at) {
        Word word;
        std::memcpy(&word, at, sizeof word);
        return word;
    }
};
