// libFuzzer target: cuts an arbitrary TCP stream into packets. The first input byte chooses the
// framing (told or found from the stream) and the size of the pieces the stream arrives in; the
// rest is the stream. Checks that the pieces do not change the outcome, that no packet breaks the
// size limit, and that the packets read come back unchanged when framed and read again.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "transport/tcp/StreamFraming.h"

namespace {

struct Outcome {
    std::vector<QVOSCData> packets;
    bool failed = false;
    std::optional<StreamFraming> framing;

    bool operator==(const Outcome&) const = default;
};

Outcome deframe(std::optional<StreamFraming> framing, QVOSCBytes stream, size_t pieceSize) {
    StreamDeframer deframer(framing);
    Outcome outcome;
    const auto keep = [&](QVOSCBytes packet) {
        if (packet.empty() || packet.size() > StreamDeframer::maximumPacketSize) {
            std::abort();
        }
        outcome.packets.emplace_back(packet.begin(), packet.end());
    };
    for (size_t start = 0; start < stream.size(); start += pieceSize) {
        deframer.feed(stream.subspan(start, std::min(pieceSize, stream.size() - start)), keep);
    }
    outcome.failed = deframer.failed();
    outcome.framing = deframer.framing();
    if (outcome.failed == deframer.failure().empty()) {
        std::abort();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t control = data[0];
    const QVOSCBytes stream(data + 1, size - 1);
    std::optional<StreamFraming> framing;
    if ((control & 3) == 1) {
        framing = StreamFraming::slip;
    } else if ((control & 3) == 2) {
        framing = StreamFraming::lengthPrefix;
    }
    const size_t pieceSize = 1 + (control >> 2);

    const Outcome whole = deframe(framing, stream, stream.size() + 1);
    if (deframe(framing, stream, pieceSize) != whole) {
        std::abort();
    }
    if (!whole.framing) {
        return 0;  // an empty stream
    }
    QVOSCData again;
    for (const auto& packet : whole.packets) {
        const QVOSCData framed = framePacket(packet, *whole.framing);
        again.insert(again.end(), framed.begin(), framed.end());
    }
    const Outcome reread = deframe(whole.framing, again, again.size() + 1);
    if (reread.failed || reread.packets != whole.packets) {
        std::abort();
    }
    return 0;
}
