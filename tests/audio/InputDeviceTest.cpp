// The input device as a technician meets it with the real program on the private sound server:
// listed, chosen by name and waited for, never replaced by another; the server's default
// followed when nothing was chosen. The times it takes are printed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A source made for the test (a remap of feed's monitor, so it carries the tone), unloaded with
// the object.
class ExtraSource {
  public:
    ExtraSource(const std::string& name, const std::string& description) {
        load(name, description);
    }
    ~ExtraSource() { unload(); }
    void load(const std::string& name, const std::string& description) {
        const auto index =
            pactl({"load-module", "module-remap-source", "source_name=" + name,
                   "master=feed.monitor", "source_properties=device.description=" + description});
        module_ = index ? index->substr(0, index->find('\n')) : std::string();
    }
    void unload() {
        if (!module_.empty()) {
            pactl({"unload-module", module_});
            module_.clear();
        }
    }
    bool loaded() const { return !module_.empty(); }

  private:
    std::string module_;
};

// How long until a level message carries the tone (value above 6), or nothing within `timeout`.
std::optional<std::chrono::milliseconds> timeUntilTone(UdpReceiver& receiver,
                                                       std::chrono::milliseconds timeout) {
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < timeout) {
        const auto datagram = receiver.receive(50ms);
        const auto value = datagram ? levelValue(*datagram) : std::nullopt;
        if (value && *value > 6.0f) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        }
    }
    return std::nullopt;
}

// How long until the tone stops reaching the receiver, that is until `quiet` passes without a
// message carrying it; nothing when it does not stop within `timeout`.
std::optional<std::chrono::milliseconds> timeUntilToneStops(UdpReceiver& receiver,
                                                            std::chrono::milliseconds quiet,
                                                            std::chrono::milliseconds timeout) {
    const Clock::time_point start = Clock::now();
    Clock::time_point lastTone = start;
    while (Clock::now() - start < timeout) {
        const auto datagram = receiver.receive(20ms);
        const auto value = datagram ? levelValue(*datagram) : std::nullopt;
        if (value && *value > 6.0f) {
            lastTone = Clock::now();
        } else if (Clock::now() - lastTone >= quiet) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(lastTone - start);
        }
    }
    return std::nullopt;
}

std::string firstLine(const std::optional<std::string>& text) {
    return text ? text->substr(0, text->find('\n')) : std::string("(none)");
}

// The longest time without a message carrying the tone during `duration`.
std::chrono::milliseconds longestGapInTone(UdpReceiver& receiver,
                                           std::chrono::milliseconds duration) {
    const Clock::time_point start = Clock::now();
    Clock::time_point lastTone = start;
    Clock::duration longest{};
    while (Clock::now() - start < duration) {
        const auto datagram = receiver.receive(20ms);
        const auto value = datagram ? levelValue(*datagram) : std::nullopt;
        if (value && *value > 6.0f) {
            longest = std::max(longest, Clock::now() - lastTone);
            lastTone = Clock::now();
        }
    }
    longest = std::max(longest, Clock::now() - lastTone);
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

bool outputShows(ChildProcess& program, const std::string& text, std::chrono::milliseconds wait) {
    return program.readUntil([&] { return program.output().find(text) != std::string::npos; },
                             wait);
}

TEST(InputDeviceTest, ListDevicesNamesEverySourceAndMarksTheDefault) {
    const ProgramResult listed = runProgram({KESTRANO_PATH, "--list-devices"});
    EXPECT_EQ(listed.status, 0) << listed.errorOutput;
    EXPECT_NE(listed.output.find("* mic\tMic\t2 channels\n"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("  feed.monitor\tMonitor of Feed\t2 channels\n"),
              std::string::npos);

    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/native");
    const ProgramResult refused = runProgram({KESTRANO_PATH, "--list-devices"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output, "");
    EXPECT_NE(refused.errorOutput.find("kestrano: no sound server answers"), std::string::npos)
        << refused.errorOutput;
}

TEST(InputDeviceTest, AChosenDeviceIsWaitedForTakenWhenItAppearsAndNeverReplaced) {
    TempDir configHome;
    ScopedEnvironment config("XDG_CONFIG_HOME", configHome.path().string());
    UdpReceiver zandorex;
    ASSERT_TRUE(storeLevelSettings(zandorex.port()));
    ASSERT_EQ(runProgram({KESTRANO_PATH, "--set", "inputDevice=late"}).status, 0);
    SineTone tone("feed");
    ChildProcess program({KESTRANO_PATH, "--headless"});

    // Absent: nothing is captured, although the default source carries the tone.
    EXPECT_TRUE(outputShows(program, "waiting for late", 3s)) << program.output();
    EXPECT_FALSE(timeUntilTone(zandorex, 1s));

    ExtraSource late("late", "Late");
    ASSERT_TRUE(late.loaded());
    const auto taken = timeUntilTone(zandorex, 5s);
    ASSERT_TRUE(taken);

    late.unload();
    const auto dropped = timeUntilToneStops(zandorex, 300ms, 3s);
    ASSERT_TRUE(dropped);
    EXPECT_FALSE(timeUntilTone(zandorex, 1500ms)) << "fell back to another source";
    EXPECT_TRUE(outputShows(program, "waiting for Late", 3s)) << program.output();

    late.load("late", "Late");
    const auto retaken = timeUntilTone(zandorex, 5s);
    ASSERT_TRUE(retaken);
    std::printf(
        "chosen device: taken %lld ms after it appeared, dropped within %lld ms of its "
        "removal, taken again %lld ms after it came back\n",
        static_cast<long long>(taken->count()), static_cast<long long>(dropped->count()),
        static_cast<long long>(retaken->count()));

    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
}

TEST(InputDeviceTest, WithoutAChoiceTheServersDefaultIsFollowedAlsoWhenItIsUnloaded) {
    HeadlessLevelRun run;
    ASSERT_TRUE(run.settingsStored);
    SineTone tone("feed");
    ASSERT_TRUE(timeUntilTone(run.zandorex, 6s)) << run.program.errorOutput();

    // The default turns to a silent source, then to one with the tone, which is then unloaded.
    ASSERT_TRUE(pactl({"set-default-source", "out.monitor"}));
    const auto silenced = timeUntilToneStops(run.zandorex, 300ms, 3s);
    ExtraSource spare("spare", "Spare");
    ASSERT_TRUE(pactl({"set-default-source", "spare"}));
    const auto followed = timeUntilTone(run.zandorex, 3s);
    const std::string defaultBefore = firstLine(pactl({"get-default-source"}));
    spare.unload();
    const std::string defaultAfter = firstLine(pactl({"get-default-source"}));
    // The tone goes on through the new default (mic); the gap is how long capture paused.
    const std::chrono::milliseconds gap = longestGapInTone(run.zandorex, 3s);
    pactl({"set-default-source", "mic"});

    ASSERT_TRUE(silenced);
    ASSERT_TRUE(followed);
    EXPECT_LT(gap, 1500ms) << "capture did not resume on the new default " << defaultAfter;
    std::printf(
        "default followed: silent %lld ms after out.monitor became the default, tone "
        "%lld ms after spare did; spare unloaded (default %s -> %s): longest pause in the "
        "tone %lld ms\n",
        static_cast<long long>(silenced->count()), static_cast<long long>(followed->count()),
        defaultBefore.c_str(), defaultAfter.c_str(), static_cast<long long>(gap.count()));

    run.program.sendSignal(SIGTERM);
    EXPECT_EQ(run.program.wait(3s), 0) << run.program.errorOutput();
}

}  // namespace
