// libFuzzer target: decodes arbitrary bytes, prints and re-encodes what comes out, and checks that
// re-encoding is stable wherever the wire format can carry a packet back unchanged.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "osc/QVOSCDecoder.h"

namespace {

// Whether the encoding of `packet` decodes to a packet with the same encoding. Not so when a text
// holds a zero character (the decoder may end it early), when an address begins with '#' (its
// bytes read as a bundle) or when a bundle is empty (its element is written with size 0 and then
// skipped). Walks the tree with a stack: it may be thousands of bundles deep.
bool reencodesUnchanged(const QVOSCPacket& packet) {
    std::vector<const QVOSCPacket*> pending{&packet};
    while (!pending.empty()) {
        const QVOSCPacket* current = pending.back();
        pending.pop_back();
        if (auto* message = dynamic_cast<const QVOSCMessage*>(current)) {
            const std::string& address = message->address()->address();
            if (address.find('\0') != std::string::npos || address.starts_with('#')) {
                return false;
            }
            for (const auto& argument : message->arguments()) {
                if (argument->type() == 's' &&
                    argument->stringValue().value_or("").find('\0') != std::string::npos) {
                    return false;
                }
            }
            continue;
        }
        if (current->attachedObjects().empty()) {
            return false;
        }
        for (const auto& element : current->attachedObjects()) {
            pending.push_back(static_cast<const QVOSCPacket*>(element.get()));
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::shared_ptr<QVOSCPacket> packet = QVOSCDecoder::decodeData(QVOSCBytes(data, size));
    if (!packet) {
        return 0;
    }
    QVOSCData encoded = packet->packetizedData();
    std::string text = packet->stringRepresentation();
    if (!reencodesUnchanged(*packet)) {
        return 0;
    }
    std::shared_ptr<QVOSCPacket> again = QVOSCDecoder::decodeData(encoded);
    if (!again || again->packetizedData() != encoded || again->stringRepresentation() != text) {
        std::abort();
    }
    return 0;
}
