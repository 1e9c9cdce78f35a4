#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "QVOSCArgument.h"
#include "QVOSCBundle.h"
#include "QVOSCMessage.h"
#include "QVOSCPacket.h"

// Turns the bytes of one datagram into a message, a bundle or nothing. Never throws, never
// reads outside the buffer, and never returns a partly decoded packet.
class QVOSCDecoder {
public:
    QVOSCDecoder() = delete;

    static std::shared_ptr<QVOSCPacket> decodeData(QVOSCBytes data);

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
