#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"
#include "osc/QVOSCPacket.h"

// Turns the bytes of one datagram into a message, a bundle or nothing. Never throws, never
// reads outside the buffer, and never returns a partly decoded packet.
class QVOSCDecoder {
  public:
    QVOSCDecoder() = delete;

    static std::shared_ptr<QVOSCPacket> decodeData(QVOSCBytes data);
    // `data` begins with '#'; nothing when any part of it is undecodable.
    static std::shared_ptr<QVOSCBundle> decodeRawBundle(QVOSCBytes data);
    // `data` is not empty; nothing when it holds no decodable message.
    static std::shared_ptr<QVOSCMessage> decodeRawMessage(QVOSCBytes data);

    // Readers of single values; `ending` receives the offset just past the value.
    static std::shared_ptr<QVOSCArgument> argumentFromData(QVOSCBytes data, int32_t start,
                                                           int32_t& ending, char type);
    static std::optional<std::string> stringFromData(QVOSCBytes data, int32_t start,
                                                     int32_t& ending);
    static std::optional<QVOSCData> dataBlobFromData(QVOSCBytes data, int32_t start,
                                                     int32_t& ending);
    // Nothing when fewer than four bytes remain at `start`.
    static std::optional<int32_t> intFromData(QVOSCBytes data, int32_t start, int32_t& ending);
    static std::optional<float> floatFromData(QVOSCBytes data, int32_t start, int32_t& ending);
};
