#include "transport/tcp/StreamFraming.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t slipEnd = 0xC0;
constexpr uint8_t slipEscape = 0xDB;
constexpr uint8_t slipEscapedEnd = 0xDC;
constexpr uint8_t slipEscapedEscape = 0xDD;

std::string hexByte(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

const std::string overLimit =
    " exceeds the limit of " + std::to_string(StreamDeframer::maximumPacketSize) + " bytes";

}  // namespace

const char* streamFramingName(StreamFraming framing) {
    return framing == StreamFraming::slip ? "SLIP" : "length-prefixed";
}

QVOSCData framePacket(QVOSCBytes packet, StreamFraming framing) {
    QVOSCData framed;
    if (framing == StreamFraming::lengthPrefix) {
        const auto size = static_cast<uint32_t>(packet.size());
        framed.reserve(packet.size() + 4);
        framed.insert(framed.end(),
                      {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                       static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)});
        framed.insert(framed.end(), packet.begin(), packet.end());
        return framed;
    }
    // An END before the packet too, so that line noise before it ends up as a packet of its own.
    framed.reserve(packet.size() + 2 + packet.size() / 16);
    framed.push_back(slipEnd);
    for (const uint8_t byte : packet) {
        if (byte == slipEnd) {
            framed.insert(framed.end(), {slipEscape, slipEscapedEnd});
        } else if (byte == slipEscape) {
            framed.insert(framed.end(), {slipEscape, slipEscapedEscape});
        } else {
            framed.push_back(byte);
        }
    }
    framed.push_back(slipEnd);
    return framed;
}

bool StreamDeframer::feed(QVOSCBytes bytes, const PacketHandler& onPacket) {
    if (!failed() && !framing_ && !bytes.empty()) {
        framing_ = bytes.front() == slipEnd ? StreamFraming::slip : StreamFraming::lengthPrefix;
    }
    if (failed() || bytes.empty()) {
        return !failed();
    }
    if (*framing_ == StreamFraming::slip) {
        feedSlip(bytes, onPacket);
    } else {
        feedLengthPrefixed(bytes, onPacket);
    }
    return !failed();
}

void StreamDeframer::fail(std::string reason) {
    failure_ = std::move(reason);
    // Nothing more will be read; give the memory back.
    packet_ = QVOSCData();
}

void StreamDeframer::feedSlip(QVOSCBytes bytes, const PacketHandler& onPacket) {
    for (const uint8_t byte : bytes) {
        uint8_t value = byte;
        if (escaped_) {
            escaped_ = false;
            if (byte == slipEscapedEnd) {
                value = slipEnd;
            } else if (byte == slipEscapedEscape) {
                value = slipEscape;
            } else {
                fail("bad SLIP escape " + hexByte(byte));
                return;
            }
        } else if (byte == slipEscape) {
            escaped_ = true;
            continue;
        } else if (byte == slipEnd) {
            if (!packet_.empty()) {
                onPacket(packet_);
                packet_.clear();
            }
            continue;
        }
        if (packet_.size() == maximumPacketSize) {
            fail("packet" + overLimit);
            return;
        }
        packet_.push_back(value);
    }
}

void StreamDeframer::feedLengthPrefixed(QVOSCBytes bytes, const PacketHandler& onPacket) {
    while (!bytes.empty()) {
        if (!expectedSize_) {
            const size_t taken = std::min(bytes.size(), sizeof header_ - headerLength_);
            std::copy_n(bytes.begin(), taken, header_ + headerLength_);
            headerLength_ += taken;
            bytes = bytes.subspan(taken);
            if (headerLength_ < sizeof header_) {
                return;
            }
            headerLength_ = 0;
            const auto size =
                static_cast<int32_t>(uint32_t{header_[0]} << 24 | uint32_t{header_[1]} << 16 |
                                     uint32_t{header_[2]} << 8 | header_[3]);
            if (size < 0) {
                fail("negative packet size " + std::to_string(size));
                return;
            }
            if (static_cast<size_t>(size) > maximumPacketSize) {
                fail("packet of " + std::to_string(size) + " bytes" + overLimit);
                return;
            }
            if (size == 0) {
                continue;
            }
            expectedSize_ = static_cast<size_t>(size);
        }
        const size_t missing = *expectedSize_ - packet_.size();
        if (packet_.empty() && bytes.size() >= missing) {
            // The whole packet lies in this piece: hand it on without a copy.
            onPacket(bytes.first(missing));
        } else {
            const size_t taken = std::min(bytes.size(), missing);
            packet_.insert(packet_.end(), bytes.begin(), bytes.begin() + taken);
            if (packet_.size() < *expectedSize_) {
                return;
            }
            onPacket(packet_);
            packet_.clear();
        }
        bytes = bytes.subspan(std::min(bytes.size(), missing));
        expectedSize_.reset();
    }
}
