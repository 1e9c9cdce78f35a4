#include "transport/tcp/TcpConnection.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <thread>

#include "osc/QVOSCDecoder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Ports.h"
#include "tests/support/Udp.h"
#include "tests/transport/TcpPeer.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"
#include "transport/udp/QVOSCSourcedDatagramDelegate.h"

using namespace std::chrono_literals;
using Kind = TcpConnection::Kind;

namespace {

QVOSCData messageBytes(const std::string& address, int32_t value) {
    auto message = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(address));
    message->attachArgument(QVOSCArgument::argumentWithInt(value));
    return message->packetizedData();
}

// The address and integer of a message made by messageBytes.
std::pair<std::string, int32_t> addressAndValue(const QVOSCData& bytes) {
    const auto packet = QVOSCDecoder::decodeData(bytes);
    const auto* message = dynamic_cast<const QVOSCMessage*>(packet.get());
    if (message == nullptr || message->arguments().size() != 1) {
        return {"?", 0};
    }
    return {message->address()->address(), message->arguments()[0]->intValue()};
}

class SourcedRecorder : public QVOSCDatagramDelegate, public QVOSCSourcedDatagramDelegate {
  public:
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override {
        packets.push_back(*data);
    }
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                           const NetworkEndpoint& source) override {
        packets.push_back(*data);
        sources.push_back(endpointText(source));
    }

    std::vector<QVOSCData> packets;
    std::vector<std::string> sources;
};

class TcpConnectionTest : public ::testing::Test {
  protected:
    std::unique_ptr<TcpConnection> connectTo(const NetworkEndpoint& peer, StreamFraming framing) {
        return TcpConnection::connectionToEndpoint(
            peer, framing, loop, [this](const std::string& status) { statuses.push_back(status); });
    }

    // Runs the loop, stepping `peer` before each event, until `done` holds or `timeout` passes.
    bool runUntil(TcpPeer& peer, const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = 5s) {
        return loop.runUntil(
            [&] {
                peer.step();
                return done();
            },
            timeout);
    }

    bool connectedTo(TcpPeer& peer, TcpConnection& connection) {
        return runUntil(peer, [&] { return connection.isConnected() && peer.step(); });
    }

    EventLoop loop;
    std::vector<std::string> statuses;
};

TEST_F(TcpConnectionTest, CarriesPacketsBothWaysOverIPv4AndIPv6InEitherFraming) {
    for (const std::string host : {"127.0.0.1", "::1"}) {
        for (const auto framing : {StreamFraming::slip, StreamFraming::lengthPrefix}) {
            const std::string shown = host + " " + streamFramingName(framing);
            statuses.clear();
            TcpPeer peer(host, 0, framing);
            const std::string peerText = endpointText(peer.endpoint());
            auto connection = connectTo(peer.endpoint(), framing);
            ASSERT_NE(connection, nullptr) << shown;
            ASSERT_TRUE(connectedTo(peer, *connection)) << shown;
            EXPECT_EQ(statuses, (std::vector<std::string>{"connecting to " + peerText,
                                                          "connected to " + peerText}))
                << shown;
            EXPECT_EQ(connection->status(), "connected to " + peerText) << shown;

            // An SLIP END and ESC inside the packet go through escaped.
            const std::vector<QVOSCData> sent = {messageBytes("/level", 0x7FC0DB00),
                                                 messageBytes("/trigger", 1)};
            connection->sendBytes(sent[0], Kind::continuous);
            connection->sendBytes(sent[1], Kind::trigger);
            EXPECT_TRUE(runUntil(peer, [&] { return peer.packets().size() == 2; })) << shown;
            EXPECT_EQ(peer.packets(), sent) << shown;

            auto recorder = std::make_shared<SourcedRecorder>();
            connection->setDelegate(recorder);
            const auto question = messageBytes("/query", 0xC0);
            ASSERT_TRUE(peer.sendBytes(framePacket(question, framing))) << shown;
            EXPECT_TRUE(runUntil(peer, [&] { return !recorder->packets.empty(); })) << shown;
            EXPECT_EQ(recorder->packets, std::vector<QVOSCData>{question}) << shown;
            EXPECT_EQ(recorder->sources, std::vector<std::string>{peerText}) << shown;

            auto answer =
                QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/answer"));
            answer->attachArgument(QVOSCArgument::argumentWithInt(2));
            connection->send(*answer, Kind::reply);
            EXPECT_TRUE(runUntil(peer, [&] { return peer.packets().size() == 3; })) << shown;
            EXPECT_EQ(peer.packets().back(), answer->packetizedData()) << shown;
        }
    }
}

TEST_F(TcpConnectionTest, AFullBufferDropsContinuousValuesFirstThenOlderTurnsAndStaysBounded) {
    TcpPeer peer("127.0.0.1", 0, StreamFraming::lengthPrefix, 4096);
    peer.setReading(false);
    auto connection = connectTo(peer.endpoint(), StreamFraming::lengthPrefix);
    ASSERT_TRUE(connectedTo(peer, *connection));

    constexpr int continuousCount = 20000;
    constexpr int triggerFlood = 6000;
    size_t mostBuffered = 0;
    int nextValue = 0;
    const auto sendContinuous = [&](int count) {
        for (int i = 0; i < count; ++i) {
            connection->sendBytes(messageBytes("/level", nextValue++), Kind::continuous);
            mostBuffered = std::max(mostBuffered, connection->bufferedBytes());
        }
    };
    connection->sendBytes(messageBytes("/trigger", -1), Kind::trigger);
    sendContinuous(continuousCount / 2);
    connection->sendBytes(messageBytes("/trigger", -2), Kind::trigger);
    sendContinuous(continuousCount / 2);
    EXPECT_GT(connection->counters().droppedContinuous, 0u);
    EXPECT_EQ(connection->counters().droppedTriggers, 0u);

    // Trigger turns alone cannot make the buffer grow either; each one still gets in, in place
    // of older ones.
    for (int i = 0; i < triggerFlood; ++i) {
        ASSERT_EQ(connection->sendBytes(messageBytes("/trigger", i), Kind::trigger),
                  TcpConnection::Outcome::queued);
        mostBuffered = std::max(mostBuffered, connection->bufferedBytes());
    }
    const auto counters = connection->counters();
    EXPECT_GT(counters.droppedTriggers, 0u);
    EXPECT_LE(mostBuffered, TcpConnection::maximumBufferedBytes);

    peer.setReading(true);
    ASSERT_TRUE(runUntil(peer, [&] { return connection->bufferedBytes() == 0; }));
    // What left the buffer reaches the peer at once now that it reads again.
    runUntil(
        peer, [] { return false; }, 200ms);

    std::vector<int32_t> continuous;
    std::vector<int32_t> triggers;
    for (const auto& packet : peer.packets()) {
        const auto [address, value] = addressAndValue(packet);
        (address == "/level" ? continuous : triggers).push_back(value);
    }
    ASSERT_FALSE(triggers.empty());
    EXPECT_EQ(triggers.back(), triggerFlood - 1) << "the newest turn is the last the peer has";
    EXPECT_EQ(continuous.size() + counters.droppedContinuous, size_t{continuousCount});
    EXPECT_EQ(triggers.size() + counters.droppedTriggers, size_t{triggerFlood + 2});
    EXPECT_TRUE(std::is_sorted(continuous.begin(), continuous.end()));
    const auto flood =
        std::find_if(triggers.begin(), triggers.end(), [](int32_t value) { return value >= 0; });
    EXPECT_TRUE(std::is_sorted(flood, triggers.end()));
}

// Each mapping's trigger state survives an outage: the newest turn of every slot (by default its
// address) is kept, in the order the turns were made, and nothing continuous. Two mappings on
// one address each keep their own; a slot forgotten (a mapping removed) sends nothing.
TEST_F(TcpConnectionTest, AnOutageKeepsTheNewestTurnOfEachSlot) {
    const uint16_t port = freePortBelowEphemeralRange(SOCK_STREAM);
    auto connection = connectTo(*numericEndpoint("127.0.0.1", port), StreamFraming::slip);
    ASSERT_FALSE(connection->isConnected());
    for (const auto& [address, value] :
         std::vector<std::pair<std::string, int32_t>>{{"/kick", 10}, {"/hat", 10}, {"/kick", 0}}) {
        EXPECT_EQ(connection->sendBytes(messageBytes(address, value), Kind::trigger),
                  TcpConnection::Outcome::held);
    }
    EXPECT_EQ(connection->sendBytes(messageBytes("/voice", 3), Kind::continuous),
              TcpConnection::Outcome::dropped);
    EXPECT_EQ(connection->counters().replacedTriggers, 1u);
    for (const auto& [slot, value] :
         std::vector<std::pair<std::string, int32_t>>{{"one", 10}, {"two", 10}, {"gone", 10}}) {
        EXPECT_EQ(connection->sendBytes(messageBytes("/cue", value), Kind::trigger, slot),
                  TcpConnection::Outcome::held);
    }
    connection->forget("gone");
    EXPECT_EQ(connection->counters().replacedTriggers, 1u);

    TcpPeer peer("127.0.0.1", port, StreamFraming::slip);
    ASSERT_TRUE(runUntil(
        peer, [&] { return peer.packets().size() >= 4; }, 10s));
    runUntil(
        peer, [] { return false; }, 200ms);
    std::vector<std::pair<std::string, int32_t>> received;
    for (const auto& packet : peer.packets()) {
        received.push_back(addressAndValue(packet));
    }
    EXPECT_EQ(received, (std::vector<std::pair<std::string, int32_t>>{
                            {"/hat", 10}, {"/kick", 0}, {"/cue", 10}, {"/cue", 10}}));
}

TEST_F(TcpConnectionTest, BrokenFramingFromThePeerClosesWithItsReasonAndReconnects) {
    TcpPeer peer("127.0.0.1", 0, StreamFraming::slip);
    const std::string peerText = endpointText(peer.endpoint());
    auto connection = connectTo(peer.endpoint(), StreamFraming::slip);
    ASSERT_TRUE(connectedTo(peer, *connection));

    ASSERT_TRUE(peer.sendBytes(QVOSCData{0xC0, 0x2F, 0xDB, 0x41, 0xC0}));
    const std::string lost = "connection to " + peerText + " lost: bad SLIP escape 0x41";
    EXPECT_TRUE(runUntil(peer, [&] { return connection->status() == lost; }));
    EXPECT_TRUE(
        runUntil(peer, [&] { return connection->isConnected() && peer.acceptedCount() == 2; }));
}

// A peer whose queue of connections is full drops further attempts without a word, as one that
// is switched off does; the attempt is given up long before the system would.
TEST_F(TcpConnectionTest, AnAttemptWithoutAnswerIsGivenUp) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto local = numericEndpoint("127.0.0.1", 0);
    ASSERT_EQ(bind(listener, local->socketAddress(), local->length), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    const auto endpoint = endpointOnPort(*local, boundPort(listener));
    std::vector<int> fillers;
    for (int i = 0; i < 2; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), endpoint.socketAddress(), endpoint.length);
    }
    std::this_thread::sleep_for(100ms);

    auto connection = connectTo(endpoint, StreamFraming::slip);
    const std::string lost =
        "connection to " + endpointText(endpoint) + " lost: no answer within 3 s";
    EXPECT_TRUE(loop.runUntil([&] { return connection->status() == lost; }, 10s))
        << connection->status();
    for (const int filler : fillers) {
        close(filler);
    }
    close(listener);
}

}  // namespace
