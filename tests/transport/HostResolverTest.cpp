// Looking a destination up off the main thread, then sending to it over real UDP.
#include "transport/HostResolver.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "tests/support/Udp.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"
#include "transport/udp/QVOSCSender.h"

using namespace std::chrono_literals;

namespace {

constexpr auto patience = 5s;

QVOSCMessage levelMessage() {
    QVOSCMessage message(QVOSCAddress::addressWithString("/zandorex/level"));
    message.attachArgument(QVOSCArgument::argumentWithFloat(2.5f));
    return message;
}

class HostResolverTest : public ::testing::Test {
  protected:
    HostResolver::AnswerHandler recording() {
        return [this](const HostResolver::Answer& answer) {
            answers.push_back(answer);
            answeredOnMainThread = answeredOnMainThread && std::this_thread::get_id() == mainThread;
        };
    }

    EventLoop loop;
    std::vector<HostResolver::Answer> answers;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool answeredOnMainThread = true;
};

TEST_F(HostResolverTest, NamesAndAddressesOfBothFamiliesReachTheirReceiver) {
    struct Case {
        std::string host;
        std::string receiverAddress;
    };
    for (const Case& destination :
         {Case{"127.0.0.2", "127.0.0.2"}, Case{"::1", "::1"}, Case{"localhost", "127.0.0.1"}}) {
        SCOPED_TRACE(destination.host);
        UdpReceiver receiver(destination.receiverAddress);
        answers.clear();
        HostResolver resolver(loop, 1.0, recording());
        resolver.resolve(destination.host);
        ASSERT_TRUE(loop.runUntil([&] { return !answers.empty(); }, patience));
        ASSERT_TRUE(answers.front().address) << answers.front().failure;

        const auto sender = QVOSCSender::senderWithDestinationEndpoint(
            endpointOnPort(*answers.front().address, receiver.port()), loop);
        ASSERT_NE(sender, nullptr);
        ASSERT_TRUE(sender->sendOSCPacket(levelMessage()));
        EXPECT_EQ(receiver.receive(2s), levelMessage().packetizedData());
    }
    EXPECT_TRUE(answeredOnMainThread);
}

TEST_F(HostResolverTest, AnUnknownNameIsReportedAndRetriedUntilCancelled) {
    HostResolver resolver(loop, 0.2, recording());
    const auto asked = std::chrono::steady_clock::now();
    resolver.resolve("no-such-host.invalid");
    ASSERT_TRUE(loop.runUntil([&] { return answers.size() == 3; }, patience));
    // Three failures take at least the two waits between them.
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 400ms);
    for (const HostResolver::Answer& answer : answers) {
        EXPECT_FALSE(answer.address);
        EXPECT_EQ(answer.host, "no-such-host.invalid");
        EXPECT_FALSE(answer.failure.empty());
    }
    resolver.cancel();
    loop.runUntil([] { return false; }, 600ms);
    EXPECT_EQ(answers.size(), 3u);
    EXPECT_TRUE(answeredOnMainThread);
}

TEST_F(HostResolverTest, OnlyTheLatestHostIsAnswered) {
    HostResolver resolver(loop, 0.2, recording());
    resolver.resolve("first.invalid");
    resolver.resolve("second.invalid");
    resolver.resolve("localhost");
    ASSERT_TRUE(loop.runUntil([&] { return !answers.empty(); }, patience));
    loop.runUntil([] { return false; }, 300ms);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers.front().host, "localhost");
    EXPECT_TRUE(answers.front().address);
}

TEST_F(HostResolverTest, AResolverGoneBeforeItsAnswerDropsIt) {
    {
        HostResolver resolver(loop, 0.2, recording());
        resolver.resolve("localhost");
    }
    loop.runUntil([] { return false; }, 300ms);
    EXPECT_TRUE(answers.empty());
}

}  // namespace
