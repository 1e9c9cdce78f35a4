// kestrano --headless sending over TCP, in both framings, to liblo's oscdump: the level twenty
// times a second; the peer stopped and started again on the same port, which the program rides
// out saying that it sends nothing meanwhile; and the trigger turn made during the outage
// delivered first, and listed as sent, once the peer is back.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"
#include "tests/support/Ports.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* oscdump = "/usr/bin/oscdump";
constexpr const char* oscsend = "/usr/bin/oscsend";
constexpr double ticksPerSecond = 20.0;
constexpr double rateTolerance = 0.15;
// How long after the peer is back the program must have reconnected: its longest wait between
// two attempts is 1.25 s.
constexpr double resumeSeconds = 1.5;

double unixSeconds(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// The complete lines of `output`, without the one still being written.
std::vector<std::string> completeLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream text(output.substr(0, output.rfind('\n') + 1));
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A line of oscdump: "eec20e6a.66d14a09 /zandorex/level f 7.083376". Outside a bundle liblo
// stamps a message with the time it arrived (NTP seconds and fraction), which makes the peer's
// own clock the measure of the rate, whatever delays reading its output.
struct Arrival {
    double time;  // Unix seconds
    std::string message;
};

std::vector<Arrival> arrivals(const std::string& output) {
    constexpr double ntpToUnix = 2208988800.0;
    std::vector<Arrival> result;
    for (const std::string& line : completeLines(output)) {
        unsigned long seconds = 0;
        unsigned long fraction = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "%8lx.%8lx %n", &seconds, &fraction, &used) == 2 &&
            used > 0) {
            result.push_back({static_cast<double>(seconds) - ntpToUnix +
                                  static_cast<double>(fraction) / 4294967296.0,
                              line.substr(static_cast<size_t>(used))});
        }
    }
    return result;
}

// A line of the program's monitor: "05:04:45.402 out 127.0.0.1:15123 MESSAGE: ...", stamped by
// the program itself.
struct MonitorLine {
    double time;  // seconds of the day
    bool out;
    std::string text;
};

std::vector<MonitorLine> monitorLines(const std::string& output) {
    std::vector<MonitorLine> result;
    for (const std::string& line : completeLines(output)) {
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        int milliseconds = 0;
        char direction[4] = {};
        int used = 0;
        if (std::sscanf(line.c_str(), "%2d:%2d:%2d.%3d %3s %n", &hours, &minutes, &seconds,
                        &milliseconds, direction, &used) == 5) {
            double time = hours * 3600.0 + minutes * 60.0 + seconds + milliseconds / 1000.0;
            if (!result.empty() && time < result.back().time - 43200.0) {
                time += 86400.0;  // past midnight
            }
            result.push_back(
                {time, std::string(direction) == "out", line.substr(static_cast<size_t>(used))});
        }
    }
    return result;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The last line of `lines` that has `part`, or nullptr.
const MonitorLine* lastWith(const std::vector<MonitorLine>& lines, const std::string& part) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (contains(line->text, part)) {
            return &*line;
        }
    }
    return nullptr;
}

// Expects `count` events over `seconds` to be twenty a second, give or take 15 %.
void expectTickRate(size_t count, double seconds, const std::string& what) {
    const double rate = static_cast<double>(count) / seconds;
    std::printf("%s: %zu in %.2f s, %.1f a second\n", what.c_str(), count, seconds, rate);
    EXPECT_NEAR(rate, ticksPerSecond, ticksPerSecond * rateTolerance)
        << what << ": " << count << " in " << seconds << " s";
}

// Expects the messages from 0.25 s after the first for 4 s to come twenty a second, each
// satisfying `wanted`.
void expectLevelRate(const std::vector<Arrival>& arrived,
                     const std::function<bool(const std::string&)>& wanted,
                     const std::string& what) {
    ASSERT_FALSE(arrived.empty()) << what;
    constexpr double window = 4.0;
    const double from = arrived.front().time + 0.25;
    size_t count = 0;
    for (const Arrival& arrival : arrived) {
        if (arrival.time >= from && arrival.time < from + window) {
            ++count;
            EXPECT_TRUE(wanted(arrival.message)) << what << ": " << arrival.message;
        }
    }
    expectTickRate(count, window, what);
}

bool isLevel(const std::string& message, float low, float high) {
    float value = 0.0f;
    return std::sscanf(message.c_str(), "/zandorex/level f %f", &value) == 1 && value >= low &&
           value <= high;
}

// Reads what the program and the peer print until `done` holds or `timeout` passes.
bool watch(ChildProcess& program, ChildProcess& peer, const std::function<bool()>& done,
           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        program.readUntil(done, 10ms);
        peer.readUntil(done, 10ms);
    }
    return done();
}

// Reads what the program and the peer print for `duration`.
void watchFor(ChildProcess& program, ChildProcess& peer, std::chrono::milliseconds duration) {
    watch(
        program, peer, [] { return false; }, duration);
}

// liblo's oscdump listening on TCP `port`; it finds the framing by itself.
std::unique_ptr<ChildProcess> startPeer(uint16_t port) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{oscdump, "-L", "osc.tcp://:" + std::to_string(port)});
}

void sendToProgram(uint16_t listenPort, const std::vector<std::string>& message) {
    std::vector<std::string> arguments{oscsend, "127.0.0.1", std::to_string(listenPort)};
    arguments.insert(arguments.end(), message.begin(), message.end());
    const ProgramResult result = runProgram(arguments);
    EXPECT_EQ(result.status, 0) << result.errorOutput;
}

// Asks the program for its input level by remote control until the answer, read from its
// monitor, is above the trigger's threshold (0.5, about -12 dBFS; the tone reads -9 dBFS);
// false when that does not happen within 10 s.
bool inputIsLoud(ChildProcess& program, ChildProcess& peer, uint16_t listenPort) {
    const auto answers = [&program] {
        std::vector<float> found;
        for (const MonitorLine& line : monitorLines(program.output())) {
            const size_t value =
                line.text.find(" f { ", line.text.find("address:/kestrano/level "));
            if (line.out && value != std::string::npos) {
                found.push_back(std::stof(line.text.substr(value + 5)));
            }
        }
        return found;
    };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        const size_t before = answers().size();
        sendToProgram(listenPort, {"/kestrano/get/level"});
        if (watch(
                program, peer, [&] { return answers().size() > before; }, 2s) &&
            answers().back() > -11.0f) {
            return true;
        }
    }
    return false;
}

void rideOutAnOutage(const std::string& protocol) {
    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    // Below the ephemeral range: the peer binds it twice, and nothing else may take it between.
    const uint16_t port = freePortBelowEphemeralRange(SOCK_STREAM);
    const uint16_t listenPort = freeUdpPort();
    ASSERT_TRUE(storeLevelSettings(port, {}, listenPort));
    for (const std::string& setting :
         {"zandorexProtocol=" + protocol, std::string("remoteControl=true")}) {
        ASSERT_EQ(runProgram({KESTRANO_PATH, "--set", setting}).status, 0) << setting;
    }
    const std::string peerText = "127.0.0.1:" + std::to_string(port);

    auto peer = startPeer(port);
    ASSERT_TRUE(waitForTcpListener(port, 5s)) << peer->errorOutput();
    ChildProcess program({KESTRANO_PATH, "--headless", "--monitor"});
    ASSERT_TRUE(program.started());

    // Connected: the silent input's level, twenty times a second.
    ASSERT_TRUE(watch(
        program, *peer, [&] { return !arrivals(peer->output()).empty(); }, 10s))
        << program.errorOutput() << peer->errorOutput();
    watchFor(program, *peer, 5s);
    expectLevelRate(
        arrivals(peer->output()),
        [](const std::string& message) { return isLevel(message, 0.0f, 0.5f); },
        "level messages before the outage");

    // The peer goes away. The program keeps ticking and trying to reconnect; what it cannot
    // send is neither listed as sent nor called sent.
    peer->sendSignal(SIGTERM);
    ASSERT_TRUE(peer->wait(5s).has_value());
    sendToProgram(listenPort, {"/test/peerStopped"});
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(watch(
        program, *peer,
        [&] {
            return std::chrono::steady_clock::now() - stopped >= 2s &&
                   contains(program.errorOutput(), "connection to " + peerText + " lost: ");
        },
        10s))
        << program.errorOutput();
    EXPECT_TRUE(contains(program.errorOutput(), "| not sending: the connection is down"))
        << program.errorOutput();

    // A trigger turn during the outage: trigger mode on the silent input, then a tone, until
    // the program, asked by remote control, reads it louder than the trigger's threshold.
    sendToProgram(listenPort, {"/kestrano/set/type", "s", "trigger"});
    ASSERT_TRUE(watch(
        program, *peer, [&] { return contains(program.output(), "s { trigger }"); }, 5s));
    SineTone tone("feed");
    ASSERT_TRUE(inputIsLoud(program, *peer, listenPort)) << program.output();
    sendToProgram(listenPort, {"/kestrano/set/type", "s", "continuous"});
    // Answered after the switch, so once it is made.
    ASSERT_TRUE(inputIsLoud(program, *peer, listenPort)) << program.output();
    // A tempo tapped during the outage is kept for the peer too (the beats are not: a late beat
    // is worth nothing, and tempo is off again before the peer is back).
    sendToProgram(listenPort, {"/kestrano/set/tempo", "s", "tap"});
    for (int tap = 0; tap < 4; ++tap) {
        std::this_thread::sleep_for(500ms);  // the taps' spacing is the input, not a wait
        sendToProgram(listenPort, {"/kestrano/tap"});
    }
    ASSERT_TRUE(watch(
        program, *peer, [&] { return contains(program.errorOutput(), " tapped"); }, 5s))
        << program.errorOutput();
    sendToProgram(listenPort, {"/kestrano/set/tempo", "s", "off"});
    ASSERT_TRUE(inputIsLoud(program, *peer, listenPort)) << program.output();
    const size_t linesInOutage = monitorLines(program.output()).size();

    // Back on the same port: the kept turn comes first, then the tone's level.
    peer = startPeer(port);
    ASSERT_TRUE(waitForTcpListener(port, 5s)) << peer->errorOutput();
    const double back = unixSeconds(std::chrono::system_clock::now());
    ASSERT_TRUE(watch(
        program, *peer, [&] { return !arrivals(peer->output()).empty(); }, 5s))
        << program.errorOutput() << peer->errorOutput();
    watchFor(program, *peer, 5s);
    const std::vector<Arrival> resumed = arrivals(peer->output());
    ASSERT_FALSE(resumed.empty());
    EXPECT_EQ(resumed.front().message, "/zandorex/level f 10.000000");
    ASSERT_GE(resumed.size(), 2u);
    EXPECT_TRUE(resumed[1].message.starts_with("/zandorex/tempo f 1")) << resumed[1].message;
    const double delay = resumed.front().time - back;
    std::printf("%s: first message %.3f s after the peer was back\n", protocol.c_str(), delay);
    // Not before the peer listened, with room for reading /proc late.
    EXPECT_GT(delay, -0.1);
    EXPECT_LT(delay, resumeSeconds);
    expectLevelRate(
        std::vector<Arrival>(resumed.begin() + 1, resumed.end()),
        [](const std::string& message) { return isLevel(message, 6.5f, 7.5f); },
        "level messages after the outage");

    // Nothing went to the peer during the outage; the kept turn is listed once it went.
    const std::vector<MonitorLine> lines = monitorLines(program.output());
    const MonitorLine* outageStart = lastWith(lines, "address:/test/peerStopped");
    ASSERT_TRUE(outageStart != nullptr && lines.size() > linesInOutage) << program.output();
    const auto toPeer = [](const MonitorLine& line) {
        return line.out && contains(line.text, "address:/zandorex/");
    };
    EXPECT_EQ(std::count_if(outageStart, lines.data() + linesInOutage, toPeer), 0)
        << program.output();
    const auto firstSent = std::find_if(lines.begin() + linesInOutage, lines.end(), toPeer);
    ASSERT_NE(firstSent, lines.end()) << program.output();
    EXPECT_TRUE(contains(firstSent->text, "f { 10.000000 }")) << firstSent->text;

    EXPECT_TRUE(contains(program.errorOutput(), "| connected to " + peerText))
        << program.errorOutput();
    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
}

TEST(TcpPeerTest, LibloPeerStoppedAndStartedAgainGetsTheLevelAndTheTurnMadeMeanwhile) {
    for (const char* protocol : {"tcp", "tcp-length"}) {
        SCOPED_TRACE(protocol);
        rideOutAnOutage(protocol);
        if (HasFatalFailure()) {
            return;
        }
    }
}

}  // namespace
