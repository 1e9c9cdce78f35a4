// The OSC monitor's record: bounded in length and in rate, and its lines.
#include "app/remote/OscMonitor.h"

#include <gtest/gtest.h>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
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

}  // namespace
