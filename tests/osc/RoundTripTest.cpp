#include <gtest/gtest.h>
#include <pthread.h>

#include <bit>
#include <functional>
#include <random>

#include "osc/QVOSCDecoder.h"
#include "tests/osc/OscTestSupport.h"

using osctest::bytes;
using osctest::concat;
using osctest::element;

namespace {

// Random well-formed packets of the four argument types. Time stamps are whole seconds within
// the time tag's range (or distantPast), texts are ASCII without zero characters and bundles are
// never empty: exactly what the wire format carries back unchanged.
class PacketGenerator {
  public:
    explicit PacketGenerator(uint32_t seed) : random_(seed) {}

    std::shared_ptr<QVOSCPacket> packet(int depthLeft) {
        if (depthLeft > 0 && chance(3)) {
            return bundle(depthLeft - 1);
        }
        return message();
    }

    std::shared_ptr<QVOSCBundle> bundle(int depthLeft) {
        auto bundle = std::make_shared<QVOSCBundle>();
        if (chance(5)) {
            bundle->setTimeStamp(distantPast);
        } else {
            int64_t ntpSeconds = std::uniform_int_distribution<int64_t>(0, UINT32_MAX)(random_);
            bundle->setTimeStamp(osctest::utc(ntpSeconds - 2'208'988'800));
        }
        int elements = std::uniform_int_distribution<int>(1, 4)(random_);
        for (int k = 0; k < elements; ++k) {
            bundle->attachObject(packet(depthLeft));
        }
        return bundle;
    }

    std::shared_ptr<QVOSCMessage> message() {
        // The slash keeps the first byte from being '#', which would make the bytes a bundle.
        auto message =
            QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/" + text()));
        int arguments = std::uniform_int_distribution<int>(0, 6)(random_);
        for (int k = 0; k < arguments; ++k) {
            message->attachArgument(argument());
        }
        return message;
    }

  private:
    bool chance(int oneIn) { return std::uniform_int_distribution<int>(1, oneIn)(random_) == 1; }

    std::string text() {
        std::string text(std::uniform_int_distribution<size_t>(0, 13)(random_), ' ');
        for (char& c : text) {
            c = static_cast<char>(std::uniform_int_distribution<int>(1, 127)(random_));
        }
        return text;
    }

    std::shared_ptr<QVOSCArgument> argument() {
        switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
            case 0:
                return QVOSCArgument::argumentWithInt(static_cast<int32_t>(random_()));
            case 1:
                // Any bit pattern, NaNs and infinities included.
                return QVOSCArgument::argumentWithFloat(
                    std::bit_cast<float>(static_cast<uint32_t>(random_())));
            case 2:
                return QVOSCArgument::argumentWithString(text());
            default: {
                QVOSCData blob(std::uniform_int_distribution<size_t>(0, 9)(random_));
                for (uint8_t& byte : blob) {
                    byte = static_cast<uint8_t>(random_());
                }
                return QVOSCArgument::argumentWithDataBlob(QVOSCBytes(blob));
            }
        }
    }

    std::mt19937 random_;
};

// Runs `work` on a thread with a small stack, where deep recursion would crash.
void runOnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto body = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, const_cast<std::function<void()>*>(&work)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

}  // namespace

TEST(RoundTrip, RandomPacketsDecodeToTheSameBytesAndText) {
    PacketGenerator generator(20260407);
    for (int round = 0; round < 3000; ++round) {
        std::shared_ptr<QVOSCPacket> original = generator.packet(4);
        QVOSCData encoded = original->packetizedData();
        std::shared_ptr<QVOSCPacket> decoded = QVOSCDecoder::decodeData(encoded);
        ASSERT_NE(decoded, nullptr) << original->stringRepresentation();
        ASSERT_EQ(decoded->packetizedData(), encoded) << original->stringRepresentation();
        ASSERT_EQ(decoded->stringRepresentation(), original->stringRepresentation());
    }
}

TEST(RoundTrip, ATruncatedMessageIsRefusedUnlessOnlyBlobPaddingIsCut) {
    PacketGenerator generator(7);
    for (int round = 0; round < 200; ++round) {
        QVOSCData encoded = generator.message()->packetizedData();
        for (size_t length = 0; length < encoded.size(); ++length) {
            auto decoded = std::dynamic_pointer_cast<QVOSCMessage>(
                QVOSCDecoder::decodeData(QVOSCBytes(encoded).first(length)));
            if (decoded) {
                // The blob reader does not need the padding after the last blob's bytes.
                ASSERT_EQ(decoded->packetizedData(), encoded);
            }
        }
    }
}

TEST(DeepNesting, AFullDatagramOfNestedBundlesIsHandledWithoutRecursion) {
    // Each level adds "#bundle", a time tag and a size: 20 bytes, around a minimal message.
    QVOSCData data = bytes("2F 61 00 00 2C 00 00 00");
    int levels = 0;
    while (data.size() + 20 <= 65506) {
        data = concat({osctest::bundleHeader(), element(data)});
        ++levels;
    }
    ASSERT_EQ(levels, 3274);
    runOnSmallStack([&] {
        std::shared_ptr<QVOSCPacket> packet = QVOSCDecoder::decodeData(data);
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(packet->packetizedData(), data);
        std::string text = packet->stringRepresentation();
        size_t bundles = 0;
        for (size_t at = text.find("BUNDLE:"); at != std::string::npos;
             at = text.find("BUNDLE:", at + 1)) {
            ++bundles;
        }
        EXPECT_EQ(bundles, 3274u);
        EXPECT_TRUE(text.ends_with("---\nMESSAGE:\naddress:/a\n types:,"));

        // A hard failure at the bottom drops the whole tree.
        QVOSCData broken = data;
        broken[broken.size() - 3] = 'x';
        EXPECT_EQ(QVOSCDecoder::decodeData(broken), nullptr);
    });
}

TEST(DeepNesting, BuiltTreesEncodePrintAndDieWithoutRecursion) {
    runOnSmallStack([] {
        auto root = QVOSCBundle::bundleWithTimestamp(distantPast);
        QVOSCBundle* innermost = root.get();
        for (int level = 0; level < 100'000; ++level) {
            auto nested = QVOSCBundle::bundleWithTimestamp(distantPast);
            QVOSCBundle* next = nested.get();
            innermost->attachObject(std::move(nested));
            innermost = next;
        }
        innermost->attachObject(osctest::levelMessage());
        EXPECT_EQ(root->packetizedData().size(), 100'000u * 20 + 16 + 4 + 24);
        EXPECT_EQ(root->stringRepresentation().size(),
                  100'001u * std::string("BUNDLE:\ntime: immediately\n---\n").size() +
                      osctest::levelMessage()->stringRepresentation().size());
        root.reset();
    });
}
