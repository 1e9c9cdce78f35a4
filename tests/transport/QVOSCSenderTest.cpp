#include "transport/udp/QVOSCSender.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "osc/QVOSCDecoder.h"
#include "tests/support/Udp.h"
#include "transport/EventLoop.h"

using namespace std::chrono_literals;

namespace {

std::shared_ptr<QVOSCMessage> messageTo(const std::string& address) {
    return QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(address));
}

std::shared_ptr<QVOSCMessage> levelMessage() {
    auto message = messageTo("/zandorex/level");
    message->attachArgument(QVOSCArgument::argumentWithFloat(10.0f));
    return message;
}

uint32_t bigEndianAt(const QVOSCData& bytes, size_t offset) {
    return uint32_t{bytes[offset]} << 24 | uint32_t{bytes[offset + 1]} << 16 |
           uint32_t{bytes[offset + 2]} << 8 | uint32_t{bytes[offset + 3]};
}

// The instant a bundle datagram's time tag stands for, fraction included.
std::chrono::system_clock::time_point bundleTime(const QVOSCData& bundle) {
    constexpr int64_t secondsFrom1900To1970 = 2208988800;
    const int64_t seconds = int64_t{bigEndianAt(bundle, 8)} - secondsFrom1900To1970;
    const int64_t nanoseconds = (int64_t{bigEndianAt(bundle, 12)} * 1000000000) >> 32;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)));
}

class QVOSCSenderTest : public ::testing::Test {
  protected:
    std::unique_ptr<QVOSCSender> senderToReceiver() {
        return QVOSCSender::senderWithDestinationHostName("localhost", receiver.port(), loop);
    }

    // Runs the loop (and so the flush timer) while collecting what arrives, for `duration`.
    std::vector<QVOSCData> runCollecting(std::chrono::milliseconds duration) {
        std::vector<QVOSCData> arrived;
        loop.runUntil(
            [&] {
                while (auto datagram = receiver.receive(0ms)) {
                    arrived.push_back(*datagram);
                }
                return false;
            },
            duration);
        return arrived;
    }

    EventLoop loop;
    UdpReceiver receiver;
};

TEST_F(QVOSCSenderTest, SendsEachPacketAsOneByteExactDatagram) {
    const auto sender = senderToReceiver();
    ASSERT_NE(sender, nullptr);

    ASSERT_TRUE(sender->sendOSCPacket(*levelMessage()));
    const QVOSCData expected = {0x2F, 0x7A, 0x61, 0x6E, 0x64, 0x6F, 0x72, 0x65,
                                0x78, 0x2F, 0x6C, 0x65, 0x76, 0x65, 0x6C, 0x00,
                                0x2C, 0x66, 0x00, 0x00, 0x41, 0x20, 0x00, 0x00};
    EXPECT_EQ(receiver.receive(2s), expected);

    // A bundle without elements encodes as nothing, and goes out as an empty datagram.
    const QVOSCBundle emptyBundle(std::chrono::system_clock::now());
    ASSERT_TRUE(sender->sendOSCPacket(emptyBundle));
    EXPECT_EQ(receiver.receive(2s), QVOSCData{});
}

TEST_F(QVOSCSenderTest, UsesOnlyTheLowSixteenBitsOfThePort) {
    const auto sender = QVOSCSender::senderWithDestinationHostName("127.0.0.1", 70000, loop);
    ASSERT_NE(sender, nullptr);
    ASSERT_EQ(sender->destinationAddress().length, sizeof(sockaddr_in));
    sockaddr_in address{};
    std::memcpy(&address, &sender->destinationAddress().address, sizeof address);
    EXPECT_EQ(address.sin_family, AF_INET);
    EXPECT_EQ(ntohs(address.sin_port), 4464);
    EXPECT_EQ(ntohl(address.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(std::vector<unsigned char>(std::begin(address.sin_zero), std::end(address.sin_zero)),
              std::vector<unsigned char>(8, 0));
    EXPECT_EQ(sender->portNumber(), 70000);

    for (const int32_t port : {receiver.port() + 65536, receiver.port() - 65536}) {
        const auto wrapped = QVOSCSender::senderWithDestinationHostName("localhost", port, loop);
        ASSERT_NE(wrapped, nullptr);
        ASSERT_TRUE(wrapped->sendOSCPacket(*levelMessage()));
        EXPECT_TRUE(receiver.receive(2s).has_value()) << "port " << port;
    }
}

TEST_F(QVOSCSenderTest, UnusableHostNamesGiveNoSenderAndNoText) {
    const std::optional<std::string> names[] = {std::nullopt, "no-such-host.invalid",
                                                "l\xC3\xB6"
                                                "calhost",
                                                std::string("localhost\0x", 11)};
    for (const auto& name : names) {
        testing::internal::CaptureStderr();
        const auto sender = QVOSCSender::senderWithDestinationHostName(name, 5000, loop);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(sender, nullptr) << name.value_or("(none)");
    }
}

TEST_F(QVOSCSenderTest, MessagesGatheredBetweenTicksLeaveAsOneBundle) {
    const auto sender = senderToReceiver();
    ASSERT_NE(sender, nullptr);
    const auto first = messageTo("/first"), second = messageTo("/second"),
               third = messageTo("/third");

    const auto beforeFirst = std::chrono::system_clock::now();
    sender->addOSCMessage(first);
    const auto afterFirst = std::chrono::system_clock::now();
    std::this_thread::sleep_for(30ms);  // the loop is not running: no tick can come between
    sender->addOSCMessage(second);
    sender->addOSCMessage(third);

    const auto arrived = runCollecting(100ms);  // about ten ticks
    ASSERT_EQ(arrived.size(), 1u);
    const auto bundle =
        std::dynamic_pointer_cast<QVOSCBundle>(QVOSCDecoder::decodeData(arrived[0]));
    ASSERT_NE(bundle, nullptr);
    ASSERT_EQ(bundle->attachedObjects().size(), 3u);
    EXPECT_EQ(bundle->attachedObjects()[0]->packetizedData(), first->packetizedData());
    EXPECT_EQ(bundle->attachedObjects()[1]->packetizedData(), second->packetizedData());
    EXPECT_EQ(bundle->attachedObjects()[2]->packetizedData(), third->packetizedData());
    EXPECT_GE(bundleTime(arrived[0]), beforeFirst - 1us);
    EXPECT_LE(bundleTime(arrived[0]), afterFirst);
}

TEST_F(QVOSCSenderTest, DestroyingASenderWithAPendingBundleSendsNothing) {
    auto sender = senderToReceiver();
    ASSERT_NE(sender, nullptr);
    sender->addOSCMessage(levelMessage());
    sender.reset();
    EXPECT_TRUE(runCollecting(60ms).empty());
}

TEST_F(QVOSCSenderTest, MessagesAddedFromOtherThreadsAreNeverLost) {
    const auto sender = senderToReceiver();
    ASSERT_NE(sender, nullptr);
    constexpr int threadCount = 4, messagesPerThread = 50;
    std::atomic<int> finished = 0;
    std::vector<std::thread> adders;
    for (int t = 0; t < threadCount; ++t) {
        adders.emplace_back([&] {
            for (int i = 0; i < messagesPerThread; ++i) {
                sender->addOSCMessage(levelMessage());
                std::this_thread::sleep_for(100us);
            }
            ++finished;
        });
    }
    size_t messages = 0;
    loop.runUntil(
        [&] {
            while (auto datagram = receiver.receive(0ms)) {
                const auto bundle =
                    std::dynamic_pointer_cast<QVOSCBundle>(QVOSCDecoder::decodeData(*datagram));
                messages += bundle ? bundle->attachedObjects().size() : 0;
            }
            return messages == threadCount * messagesPerThread;
        },
        5s);
    for (auto& adder : adders) {
        adder.join();
    }
    EXPECT_EQ(finished, threadCount);
    EXPECT_EQ(messages, size_t{threadCount * messagesPerThread});
}

}  // namespace
