// The program on PipeWire's PulseAudio service, the sound server of current desktops: a private
// pipewire, wireplumber and pipewire-pulse whose default source is the monitor of the null sink
// "feed".
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <string>

#include "app/audio/PulseAudioCapture.h"
#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

TEST(PipeWireTest, HeadlessProgramSendsTheSinesLevelTwentyTimesASecond) {
    HeadlessLevelRun run;
    ASSERT_TRUE(run.settingsStored);
    ASSERT_TRUE(run.program.started());
    SineTone tone("feed");
    ASSERT_TRUE(tone.started());
    ASSERT_TRUE(receiveSteadyTone(run.zandorex, 8s)) << run.program.errorOutput();

    // Two seconds of ticks: -9.01 dBFS average power maps to 7.09. On a loaded machine PipeWire
    // pads a playing client's stream with quanta of silence whenever that client misses a graph
    // cycle ("client missed wakeups" in its log): two parec recordings of the monitor show the
    // same gaps at the same moments, without Kestrano, and PulseAudio shows none under the same
    // load. Such a tick truly reads lower, never higher. So: no tick above the tolerance, every
    // tick on time, and a good share of them exactly on the level.
    constexpr int ticks = 40;
    int onLevel = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int tick = 0; tick < ticks; ++tick) {
        const auto datagram = run.zandorex.receive(1s);
        ASSERT_TRUE(datagram.has_value()) << "tick " << tick;
        const auto value = levelValue(*datagram);
        ASSERT_TRUE(value.has_value());
        EXPECT_LE(*value, 7.09f + 0.15f) << "tick " << tick;
        onLevel += std::abs(*value - 7.09f) <= 0.15f ? 1 : 0;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // 39 intervals of 50 ms after the first message; a busy machine delays some ticks, and a
    // wrong tick rate (25 or 100 ms) lies far outside.
    EXPECT_GT(elapsed, 1600ms);
    EXPECT_LT(elapsed, 2600ms);
    EXPECT_GE(onLevel, ticks / 4);

    run.program.sendSignal(SIGTERM);
    EXPECT_EQ(run.program.wait(3s), 0) << run.program.errorOutput();
}

// What `kestrano --list-devices` prints: one line per source, the default marked with "*".
std::string listedDevices() {
    const ProgramResult listing = runProgram({KESTRANO_PATH, "--list-devices"});
    return listing.status == 0 ? listing.output : "exit status " + std::to_string(*listing.status);
}

TEST(PipeWireTest, ASourceAddedWhileRunningJoinsTheDeviceListAndLeavesIt) {
    EXPECT_NE(listedDevices().find("* feed.monitor\tMonitor of Feed\n"), std::string::npos)
        << listedDevices();
    EventLoop loop;
    PulseAudioCapture capture(loop);
    int changes = 0;
    capture.setDevicesChangedHandler([&] { ++changes; });

    const auto module = pactl({"load-module", "module-null-sink", "sink_name=late",
                               "sink_properties=device.description=Late"});
    ASSERT_TRUE(module.has_value());
    // The running capture hears of it, and so does the next listing.
    EXPECT_TRUE(runLoopUntil(
        loop,
        [&] { return changes > 0 && containsDevice(capture.audioInputDevices(), "late.monitor"); },
        3s));
    EXPECT_NE(listedDevices().find("  late.monitor\tMonitor of Late\n"), std::string::npos)
        << listedDevices();

    changes = 0;
    ASSERT_TRUE(pactl({"unload-module", module->substr(0, module->find('\n'))}).has_value());
    EXPECT_TRUE(runLoopUntil(
        loop,
        [&] { return changes > 0 && !containsDevice(capture.audioInputDevices(), "late.monitor"); },
        3s));
    EXPECT_EQ(listedDevices().find("late.monitor"), std::string::npos) << listedDevices();
}

}  // namespace
