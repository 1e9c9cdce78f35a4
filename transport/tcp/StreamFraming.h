#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "osc/QVOSCTypes.h"

// How OSC packets are marked off from one another on a byte stream such as TCP.
enum class StreamFraming {
    // Each packet between two SLIP END bytes, END and ESC inside it escaped (RFC 1055).
    slip,
    // Each packet preceded by its length as a big-endian 32-bit integer.
    lengthPrefix,
};

// "SLIP" or "length-prefixed", for status lines and tool output.
const char* streamFramingName(StreamFraming framing);

// The bytes that carry `packet` on a stream in `framing`.
QVOSCData framePacket(QVOSCBytes packet, StreamFraming framing);

// Cuts a stream, fed in pieces of any size, back into the packets it carries. Input comes from
// the network: a packet over maximumPacketSize bytes or broken framing puts the deframer into a
// failed state for good, in which it ignores what follows; what it holds never exceeds one
// packet. Empty packets (END END, or a length of 0) carry nothing and are skipped.
class StreamDeframer {
  public:
    static constexpr size_t maximumPacketSize = 65536;
    using PacketHandler = std::function<void(QVOSCBytes packet)>;

    // With no framing, the first byte of the stream decides, as other OSC peers do: SLIP's END
    // byte 0xC0 means SLIP, anything else a length prefix.
    explicit StreamDeframer(std::optional<StreamFraming> framing) : framing_(framing) {}

    // Hands each packet completed by `bytes` to `onPacket`, in order; the view is valid during
    // the call only. False once the deframer has failed (possibly part-way through `bytes`).
    bool feed(QVOSCBytes bytes, const PacketHandler& onPacket);

    bool failed() const { return !failure_.empty(); }
    // Why it failed, e.g. "bad SLIP escape 0x41"; empty while it has not.
    const std::string& failure() const { return failure_; }
    // The framing in use; nothing while it waits for the first byte to decide.
    std::optional<StreamFraming> framing() const { return framing_; }
    // Whether part of a packet is held: a stream that ends now ends in the middle of one.
    bool holdsPartialPacket() const {
        return !packet_.empty() || headerLength_ > 0 || expectedSize_ || escaped_;
    }

  private:
    void feedSlip(QVOSCBytes bytes, const PacketHandler& onPacket);
    void feedLengthPrefixed(QVOSCBytes bytes, const PacketHandler& onPacket);
    void fail(std::string reason);

    std::optional<StreamFraming> framing_;
    std::string failure_;
    QVOSCData packet_;  // the packet being gathered
    // SLIP: the previous byte was ESC.
    bool escaped_ = false;
    // Length prefix: the bytes of the size read so far, and the size once all four are in.
    uint8_t header_[4] = {};
    size_t headerLength_ = 0;
    std::optional<size_t> expectedSize_;
};
