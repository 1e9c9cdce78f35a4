#include "transport/tcp/StreamFraming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Fed {
    std::vector<QVOSCData> packets;
    bool succeeded = true;
};

// Feeds `stream` in pieces of `pieceSize` bytes and gathers what comes out.
Fed feedInPieces(StreamDeframer& deframer, const QVOSCData& stream, size_t pieceSize) {
    Fed fed;
    for (size_t start = 0; start < stream.size(); start += pieceSize) {
        const auto piece =
            QVOSCBytes(stream).subspan(start, std::min(pieceSize, stream.size() - start));
        fed.succeeded = deframer.feed(piece, [&](QVOSCBytes packet) {
            fed.packets.emplace_back(packet.begin(), packet.end());
        });
    }
    return fed;
}

QVOSCData repeated(uint8_t byte, size_t count) {
    return QVOSCData(count, byte);
}

TEST(StreamFramingTest, FramesAreByteExact) {
    const QVOSCData packet = {0x2F, 0xC0, 0x41, 0xDB, 0xDC, 0xDD};
    EXPECT_EQ(framePacket(packet, StreamFraming::slip),
              (QVOSCData{0xC0, 0x2F, 0xDB, 0xDC, 0x41, 0xDB, 0xDD, 0xDC, 0xDD, 0xC0}));
    EXPECT_EQ(framePacket(packet, StreamFraming::lengthPrefix),
              (QVOSCData{0, 0, 0, 6, 0x2F, 0xC0, 0x41, 0xDB, 0xDC, 0xDD}));
    const auto large = framePacket(repeated(7, 0x12345), StreamFraming::lengthPrefix);
    EXPECT_EQ(QVOSCData(large.begin(), large.begin() + 4), (QVOSCData{0x00, 0x01, 0x23, 0x45}));
    EXPECT_EQ(large.size(), 0x12345u + 4);
}

// Packets framed one after another come back exactly, whatever the pieces the stream arrives in,
// with the framing given or found from the first byte.
TEST(StreamFramingTest, PacketsComeBackWhateverThePieces) {
    const std::vector<QVOSCData> packets = {
        {0x2F, 0x61, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00},
        {0xC0, 0xC0, 0xDB, 0xDB, 0xDC, 0xDD},  // nothing but bytes SLIP escapes
        {0x01},
        repeated(0xC0, StreamDeframer::maximumPacketSize),  // the largest, escaped throughout
        {0x00, 0x00, 0x00, 0x00},
    };
    for (const auto framing : {StreamFraming::slip, StreamFraming::lengthPrefix}) {
        QVOSCData stream;
        for (const auto& packet : packets) {
            const auto framed = framePacket(packet, framing);
            stream.insert(stream.end(), framed.begin(), framed.end());
        }
        for (const std::optional<StreamFraming> told :
             {std::optional(framing), std::optional<StreamFraming>()}) {
            for (const size_t pieceSize : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{5},
                                           size_t{7}, size_t{13}, size_t{4096}, stream.size()}) {
                StreamDeframer deframer(told);
                const auto fed = feedInPieces(deframer, stream, pieceSize);
                const std::string shown = std::string(streamFramingName(framing)) +
                                          (told ? " told" : " detected") + ", pieces of " +
                                          std::to_string(pieceSize);
                EXPECT_TRUE(fed.succeeded) << shown << ": " << deframer.failure();
                EXPECT_EQ(fed.packets, packets) << shown;
                EXPECT_EQ(deframer.framing(), framing) << shown;
                EXPECT_FALSE(deframer.holdsPartialPacket()) << shown;
            }
        }
    }
}

TEST(StreamFramingTest, EmptyPacketsAndSlipWithoutLeadingEndAreRead) {
    struct Case {
        const char* name;
        StreamFraming framing;
        QVOSCData stream;
        std::vector<QVOSCData> packets;
    };
    const std::vector<Case> cases = {
        {"ENDs alone", StreamFraming::slip, {0xC0, 0xC0, 0xC0}, {}},
        {"no leading END", StreamFraming::slip, {0x41, 0xC0, 0x42, 0xC0}, {{0x41}, {0x42}}},
        {"zero lengths",
         StreamFraming::lengthPrefix,
         {0, 0, 0, 0, 0, 0, 0, 1, 9, 0, 0, 0, 0},
         {{9}}},
    };
    for (const auto& test : cases) {
        StreamDeframer deframer(test.framing);
        const auto fed = feedInPieces(deframer, test.stream, 1);
        EXPECT_TRUE(fed.succeeded) << test.name;
        EXPECT_EQ(fed.packets, test.packets) << test.name;
    }
}

TEST(StreamFramingTest, BrokenFramingFailsForGoodWithItsReason) {
    QVOSCData tooLongSlip = repeated(0x41, StreamDeframer::maximumPacketSize + 1);
    tooLongSlip.insert(tooLongSlip.begin(), 0xC0);
    struct Case {
        const char* name;
        std::optional<StreamFraming> framing;
        QVOSCData stream;
        std::string reason;
        size_t packetsBefore;
    };
    const std::vector<Case> cases = {
        {"bad escape",
         StreamFraming::slip,
         {0xC0, 0x41, 0xC0, 0x42, 0xDB, 0x41, 0xC0},
         "bad SLIP escape 0x41",
         1},
        {"escape then END", std::nullopt, {0xC0, 0xDB, 0xC0}, "bad SLIP escape 0xC0", 0},
        {"SLIP too long", StreamFraming::slip, tooLongSlip,
         "packet exceeds the limit of 65536 bytes", 0},
        {"negative size",
         StreamFraming::lengthPrefix,
         {0, 0, 0, 1, 7, 0xFF, 0xFF, 0xFF, 0xFE},
         "negative packet size -2",
         1},
        {"huge size",
         std::nullopt,
         {0x7F, 0xFF, 0xFF, 0xFF, 1, 2},
         "packet of 2147483647 bytes exceeds the limit of 65536 bytes",
         0},
        {"one over",
         StreamFraming::lengthPrefix,
         {0, 1, 0, 1},
         "packet of 65537 bytes exceeds the limit of 65536 bytes",
         0},
    };
    for (const auto& test : cases) {
        for (const size_t pieceSize : {size_t{1}, test.stream.size()}) {
            StreamDeframer deframer(test.framing);
            const auto fed = feedInPieces(deframer, test.stream, pieceSize);
            EXPECT_FALSE(fed.succeeded) << test.name;
            EXPECT_TRUE(deframer.failed()) << test.name;
            EXPECT_EQ(deframer.failure(), test.reason) << test.name;
            EXPECT_EQ(fed.packets.size(), test.packetsBefore) << test.name;
            // Failed for good: a well-framed packet afterwards yields nothing.
            bool gotMore = false;
            EXPECT_FALSE(deframer.feed(framePacket(QVOSCData{1, 2, 3, 4}, *deframer.framing()),
                                       [&](QVOSCBytes) { gotMore = true; }))
                << test.name;
            EXPECT_FALSE(gotMore) << test.name;
        }
    }
}

TEST(StreamFramingTest, TellsAStreamCutInsideAPacket) {
    for (const auto framing : {StreamFraming::slip, StreamFraming::lengthPrefix}) {
        const auto framed = framePacket(QVOSCData{0xDB, 1, 2, 3}, framing);
        for (size_t cut = 2; cut < framed.size(); ++cut) {
            StreamDeframer deframer(framing);
            deframer.feed(QVOSCBytes(framed).first(cut), [](QVOSCBytes) {});
            EXPECT_TRUE(deframer.holdsPartialPacket()) << streamFramingName(framing) << " " << cut;
        }
    }
}

}  // namespace
