// kestrano --headless whose output nobody takes: a monitor's standard output nobody reads, and
// then nobody at all; a terminal on hold (Ctrl-S); a pipe nobody reads. The level keeps going out
// twenty times a second, what a peer sent shows escaped, and what the stalled or closed output
// cost is said once it takes lines again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

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

// How long the level is counted with the output stalled: a few seconds here, longer by hand
// (KESTRANO_STALL_SECONDS=30).
std::chrono::seconds stallDuration() {
    const char* const set = std::getenv("KESTRANO_STALL_SECONDS");
    return std::chrono::seconds(set != nullptr ? std::atoi(set) : 4);
}

void expectLevelKeepsGoing(UdpReceiver& zandorex, const char* output) {
    const auto seconds = stallDuration();
    const size_t levels = levelsWithin(zandorex, seconds);
    std::printf("%zu level messages in %lld s with %s\n", levels,
                static_cast<long long>(seconds.count()), output);
    EXPECT_GE(static_cast<double>(levels), 0.75 * 20.0 * static_cast<double>(seconds.count()))
        << output;
}

// Reads what `descriptor` holds now and within `timeout` until `text` appears in it.
std::string readUntilFound(int descriptor, const std::string& text,
                           std::chrono::milliseconds timeout) {
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    std::string shown;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (shown.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        char buffer[65536];
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got > 0) {
            shown.append(buffer, static_cast<size_t>(got));
        } else {
            usleep(20000);
        }
    }
    return shown;
}

TEST(MonitorOutputTest, ATerminalOnHoldOrAPipeNobodyReadsNeverHoldsUpTheLevel) {
    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    ASSERT_TRUE(storeLevelSettings(zandorex.port()));
    SineTone tone("feed");

    {
        // A terminal 20 columns wide, which the status line must not wrap in.
        int terminal = -1;
        int programSide = -1;
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 20;
        ASSERT_EQ(openpty(&terminal, &programSide, nullptr, nullptr, &size), 0);
        ChildProcess program({KESTRANO_PATH, "--headless"}, programSide);
        close(programSide);
        ASSERT_TRUE(zandorex.receive(5s).has_value());
        const std::string shown = readUntilFound(terminal, "dBFS", 5s);
        size_t cut = 0;
        for (size_t start = shown.find('\r'); start != std::string::npos;) {
            const size_t next = shown.find('\r', start + 1);
            const std::string row = shown.substr(start + 1, next - start - 1);
            const std::string text = row.substr(0, row.find('\033'));
            EXPECT_LE(text.size(), 19u) << shown;
            cut += text.size() == 19u ? 1 : 0;
            start = next;
        }
        EXPECT_GT(cut, 0u) << "a status line longer than the terminal is cut: " << shown;

        // Ctrl-S, as a technician would type it, and nobody reads the terminal from now on.
        ASSERT_EQ(write(terminal, "\x13", 1), 1);
        expectLevelKeepsGoing(zandorex, "the terminal on hold");
        // Ctrl-Q: the lines that could not go are counted.
        ASSERT_EQ(write(terminal, "\x11", 1), 1);
        EXPECT_NE(readUntilFound(terminal, "lines not written so far", 10s).find("status: "),
                  std::string::npos);
        program.sendSignal(SIGTERM);
        EXPECT_EQ(program.wait(5s), 0);
        close(terminal);
    }

    // A pipe that is full before the program starts, the way a reader that stopped leaves it.
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    while (write(pipeEnds[1], filler.data(), filler.size()) > 0) {
    }
    while (write(pipeEnds[1], "x", 1) > 0) {
    }
    fcntl(pipeEnds[1], F_SETFL, 0);  // the program gets the pipe as a shell would give it
    ChildProcess program({KESTRANO_PATH, "--headless"}, pipeEnds[1]);
    close(pipeEnds[1]);
    ASSERT_TRUE(zandorex.receive(5s).has_value());
    expectLevelKeepsGoing(zandorex, "standard output and error into a full pipe");
    const std::string shown = readUntilFound(pipeEnds[0], "lines not written so far", 10s);
    EXPECT_NE(shown.find("kestrano: status: "), std::string::npos)
        << shown.substr(shown.rfind('x') + 1);
    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(5s), 0);
    close(pipeEnds[0]);
}

}  // namespace
