// The OSC monitor's record: bounded in length and in rate, and its lines.
#include "app/remote/OscMonitor.h"

#include <gtest/gtest.h>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"
#include "transport/NetworkEndpointText.h"

namespace {

using namespace std::chrono_literals;

std::shared_ptr<const QVOSCData> cueBytes() {
    QVOSCMessage message(QVOSCAddress::addressWithString("/cue/40"));
    message.attachArgument(QVOSCArgument::argumentWithInt(1));
    return std::make_shared<const QVOSCData>(message.packetizedData());
}

TEST(OscMonitorTest, AFloodIsTakenAtABoundedRateAndWhatIsLeftOutIsCounted) {
    std::chrono::system_clock::time_point now{std::chrono::hours(1000)};
    OscMonitor monitor([&now] { return now; });
    std::vector<uint64_t> handed;
    monitor.setEntryHandler(
        [&handed](const MonitorEntry& entry) { handed.push_back(entry.leftOutBefore); });
    const NetworkEndpoint source = *numericEndpoint("::1", 9000);

    for (int count = 0; count < 1000; ++count) {
        monitor.record(MonitorEntry::Direction::in, source, cueBytes());
    }
    EXPECT_EQ(monitor.entries().size(), OscMonitor::entriesPerSecond);
    EXPECT_EQ(monitor.leftOutCount(), 1000 - OscMonitor::entriesPerSecond);

    now += 1s;
    monitor.record(MonitorEntry::Direction::out, source, cueBytes());
    EXPECT_EQ(monitor.entries().back().leftOutBefore, 1000 - OscMonitor::entriesPerSecond);
    EXPECT_EQ(handed.size(), OscMonitor::entriesPerSecond + 1);
    EXPECT_EQ(handed.back(), 1000 - OscMonitor::entriesPerSecond);

    for (int second = 0; second < 5; ++second) {
        now += 1s;
        for (int count = 0; count < 300; ++count) {
            monitor.record(MonitorEntry::Direction::in, source, cueBytes());
        }
    }
    EXPECT_EQ(monitor.entries().size(), OscMonitor::capacity);

    monitor.clear();
    EXPECT_TRUE(monitor.entries().empty());
    EXPECT_EQ(monitor.leftOutCount(), 0u);
}

TEST(OscMonitorTest, LinesShowDirectionPeerAndTextOrHex) {
    const MonitorEntry in{{},
                          MonitorEntry::Direction::in,
                          *numericEndpoint("::1", 9000),
                          monitorText(*cueBytes()),
                          0};
    // After the time of day (HH:MM:SS.mmm).
    EXPECT_EQ(monitorLine(in).substr(12),
              " in  [::1]:9000 MESSAGE: address:/cue/40  types:,i i { 1 }");

    QVOSCData undecodable(70, 0xab);
    const MonitorEntry out{{},
                           MonitorEntry::Direction::out,
                           *numericEndpoint("127.0.0.2", 5000),
                           monitorText(undecodable),
                           0};
    std::string expected = " out 127.0.0.2:5000 undecodable 70 bytes:";
    for (int index = 0; index < 64; ++index) {
        expected += " ab";
    }
    EXPECT_EQ(monitorLine(out).substr(12), expected + " ...");
    EXPECT_EQ(leftOutLine(12), "(12 messages not listed: too many at once)");
}

TEST(OscMonitorTest, ControlBytesShowAsEscapes) {
    // Texts beyond ASCII do not decode, and show in hexadecimal like any undecodable datagram.
    QVOSCMessage message(QVOSCAddress::addressWithString("/cue\x1b[2J"));
    message.attachArgument(QVOSCArgument::argumentWithString("a\x1b]0;t\x07\r\nb\x7f"));
    message.attachArgument(QVOSCArgument::argumentWithInt(5));
    EXPECT_EQ(monitorText(message.packetizedData()),
              "MESSAGE: address:/cue\\x1b[2J  types:,si s { a\\x1b]0;t\\x07\\x0d\\x0ab\\x7f } "
              "i { 5 }");

    auto bundle = QVOSCBundle::bundleWithTimestamp(std::chrono::system_clock::time_point{});
    bundle->attachObject(std::make_shared<QVOSCMessage>(message));
    const std::string inBundle = monitorText(bundle->packetizedData());
    EXPECT_NE(inBundle.find("s { a\\x1b]0;t\\x07\\x0d b\\x7f }"), std::string::npos) << inBundle;

    // Escaping may make a text four times as long; the line stays short all the same.
    QVOSCMessage long_(QVOSCAddress::addressWithString("/x"));
    long_.attachArgument(QVOSCArgument::argumentWithString(std::string(3000, '\x01')));
    for (const std::string& text : {monitorText(long_.packetizedData()), inBundle}) {
        EXPECT_LE(text.size(), 1004u);
        for (const char c : text) {
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(c);
        }
    }
}

}  // namespace
