// kestrano --headless --monitor whose standard output nobody reads, and then nobody at all: the
// level keeps going out twenty times a second, what a peer sent shows escaped, and the stalled and
// the closed output are said on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

QVOSCData textMessage(const std::string& address, const std::string& text) {
    QVOSCMessage message(QVOSCAddress::addressWithString(address));
    message.attachArgument(QVOSCArgument::argumentWithString(text));
    return message.packetizedData();
}

// Level datagrams that arrive within `window`.
size_t levelsWithin(UdpReceiver& zandorex, std::chrono::milliseconds window) {
    while (zandorex.receive(0ms)) {
    }
    size_t count = 0;
    const auto end = std::chrono::steady_clock::now() + window;
    while (std::chrono::steady_clock::now() < end) {
        if (auto datagram = zandorex.receive(50ms); datagram && levelValue(*datagram)) {
            ++count;
        }
    }
    return count;
}

TEST(MonitorOutputTest, AStalledOrClosedStandardOutputNeverHoldsUpTheLevel) {
    std::signal(SIGPIPE, SIG_IGN);
    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    const uint16_t listenPort = freeUdpPort();
    ASSERT_TRUE(storeLevelSettings(zandorex.port(), {}, listenPort));

    // Standard output is a named pipe whose reading end the test holds and does not read.
    const std::string fifo = (configHome.path() / "monitor").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ChildProcess program(
        {"/bin/sh", "-c", "exec \"$0\" --headless --monitor > \"$1\"", KESTRANO_PATH, fifo});
    ASSERT_TRUE(zandorex.receive(5s).has_value()) << program.errorOutput();

    ASSERT_TRUE(sendDatagram(listenPort, textMessage("/cue\x1b[2J", "a\x1b]0;owned\x07\rb")));
    // Far more than the pipe holds: the monitor takes 200 lines a second of about 1 KB each.
    const std::string filler(900, 'y');
    for (int index = 0; index < 400; ++index) {
        ASSERT_TRUE(sendDatagram(listenPort, textMessage("/filler", filler)));
    }
    const auto seconds = 3s;
    const size_t levels = levelsWithin(zandorex, seconds);
    std::printf("%zu level messages in %lld s with standard output stalled\n", levels,
                static_cast<long long>(seconds.count()));
    EXPECT_GE(static_cast<double>(levels), 0.75 * 20.0 * static_cast<double>(seconds.count()));

    std::string shown;
    char buffer[65536];
    ssize_t got;
    while ((got = read(reader, buffer, sizeof buffer)) > 0) {
        shown.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_NE(shown.find("address:/cue\\x1b[2J"), std::string::npos) << shown.substr(0, 400);
    EXPECT_NE(shown.find("s { a\\x1b]0;owned\\x07\\x0db }"), std::string::npos)
        << shown.substr(0, 400);
    for (const char c : shown) {
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << static_cast<int>(c);
    }
    EXPECT_TRUE(program.readUntil(
        [&] { return program.errorOutput().find("lines not written so far") != std::string::npos; },
        3s))
        << program.errorOutput();

    // The reader leaves; the next lines find the pipe closed, which is said once.
    close(reader);
    for (int index = 0; index < 3; ++index) {
        ASSERT_TRUE(sendDatagram(listenPort, textMessage("/after", "x")));
    }
    const std::string closedNotice = "standard output is closed (Broken pipe)";
    EXPECT_TRUE(program.readUntil(
        [&] { return program.errorOutput().find(closedNotice) != std::string::npos; }, 3s))
        << program.errorOutput();
    EXPECT_GE(levelsWithin(zandorex, 1s), 10u) << "still sending";
    const std::string& errors = program.errorOutput();
    EXPECT_EQ(errors.find(closedNotice), errors.rfind(closedNotice)) << errors;

    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
}

}  // namespace
