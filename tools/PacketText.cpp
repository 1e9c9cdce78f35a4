#include "tools/PacketText.h"

#include "osc/QVOSCDecoder.h"

std::string packetText(QVOSCBytes bytes, std::string_view unit) {
    const auto packet = QVOSCDecoder::decodeData(bytes);
    return packet ? packet->stringRepresentation()
                  : "UNDECODABLE: " + std::string(unit) + " of " + std::to_string(bytes.size()) +
                        " bytes";
}
