// The input device as a technician meets it with the real program on the private sound server:
// listed, chosen by name and waited for, never replaced by another; the server's default
// followed when nothing was chosen. The times it takes are printed.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCDecoder.h"
#include "osc/QVOSCMessage.h"

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
    EXPECT_TRUE(outputShows(program, "waiting for late", 10s)) << program.output();
    EXPECT_FALSE(timeUntilTone(zandorex, 1s));

    ExtraSource late("late", "Late");
    ASSERT_TRUE(late.loaded());
    const auto taken = timeUntilTone(zandorex, 5s);
    ASSERT_TRUE(taken);

    late.unload();
    const auto dropped = timeUntilToneStops(zandorex, 300ms, 3s);
    ASSERT_TRUE(dropped);
    EXPECT_FALSE(timeUntilTone(zandorex, 1500ms)) << "fell back to another source";
    EXPECT_TRUE(outputShows(program, "waiting for Late", 10s)) << program.output();

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

// What Zandorex received of each mapping, address by address.
struct Received {
    // Per trigger address, its turns on (value 1) and off (value 0).
    std::map<std::string, int> ons;
    std::map<std::string, int> offs;
    // The first mapping's continuous values below the tone's once the tone was steady.
    int dips = 0;
    bool steady = false;
    int levels = 0;
    // Level messages in a row that carried the tone.
    int toneRun = 0;

    void take(const QVOSCData& datagram) {
        const auto message =
            std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
        if (!message || message->arguments().size() != 1) {
            return;
        }
        const std::string address = message->address()->address();
        const float value = message->arguments().front()->floatValue();
        if (address == "/zandorex/level") {
            dips += steady && value < 6.0f ? 1 : 0;
            toneRun = value > 6.0f ? toneRun + 1 : 0;
            ++levels;
        } else if (value == 1.0f) {
            ++ons[address];
        } else if (value == 0.0f) {
            ++offs[address];
        }
    }
    // Takes what arrives during `duration`.
    void collect(UdpReceiver& receiver, std::chrono::milliseconds duration) {
        const Clock::time_point end = Clock::now() + duration;
        while (Clock::now() < end) {
            if (const auto datagram = receiver.receive(10ms)) {
                take(*datagram);
            }
        }
    }
    std::string counts() {
        std::string text;
        for (const std::string name : {"kick", "hat", "bass"}) {
            text += name + " on " + std::to_string(ons["/zandorex/" + name]) + " off " +
                    std::to_string(offs["/zandorex/" + name]) + ", ";
        }
        return text + "level dips " + std::to_string(dips);
    }
};

TEST(InputDeviceTest, ChangesAndADeviceDropUnderASteadyToneGiveEachTriggerOneOnAndOneOff) {
    TempDir configHome;
    ScopedEnvironment config("XDG_CONFIG_HOME", configHome.path().string());
    UdpReceiver zandorex;
    UdpReceiver peer;
    const uint16_t listenPort = freeUdpPort();
    ASSERT_TRUE(storeLevelSettings(zandorex.port(), {}, listenPort));
    ExtraSource show("show", "Show");
    ASSERT_TRUE(show.loaded());
    // kick and hat hear the tone (1 kHz, about position 0.7), bass listens below it and holds
    // about 0.02; spare is quiet and only moves the capture's layout about.
    std::vector<std::string> settings{"remoteControl=true", "inputDevice=show",
                                      "mappings=kick,hat,bass,spare"};
    for (const char* name : {"kick", "hat", "bass", "spare"}) {
        const std::string scope = std::string(name) + "/";
        for (const std::string setting : {"type=trigger", "minValue=0", "maxValue=1",
                                          "triggerOnThreshold=0.3", "triggerOffThreshold=0.2"}) {
            settings.push_back(scope + setting);
        }
        settings.push_back(scope + "address=" + name);
    }
    for (const std::string setting :
         {"kick/bandLowCut=500", "kick/bandHighCut=2000", "hat/bandLowCut=800",
          "hat/triggerResponse=fast", "bass/bandLowCut=40", "bass/bandHighCut=150",
          "spare/active=false", "spare/triggerResponse=fast"}) {
        settings.push_back(setting);
    }
    std::optional<SineTone> tone(std::in_place, "feed");
    const std::unique_ptr<ChildProcess> program = startHeadless(settings);
    ASSERT_TRUE(program);
    Received received;
    for (const Clock::time_point end = Clock::now() + 8s;
         received.toneRun < 5 && Clock::now() < end;) {
        received.collect(zandorex, 50ms);
    }
    ASSERT_GE(received.toneRun, 5) << program->errorOutput();
    received.collect(zandorex, 1s);
    ASSERT_EQ(received.counts(), "kick on 1 off 0, hat on 1 off 0, bass on 0 off 0, level dips 0")
        << "before any change";
    received.steady = true;

    // About fifty changes, one every 150 ms: responses, a type, bands (the first mapping's
    // among them) and the tempo mode, each of which moves the capture's meters.
    std::istringstream written(
        "hat/triggerResponse=tick kick/triggerResponse=fast spare/type=continuous "
        "kick/bandLowCut=600 bandLowCut=200 tempo=detect bass/bandHighCut=200 "
        "hat/triggerResponse=fast kick/triggerResponse=tick spare/type=trigger kick/bandLowCut=500 "
        "bandLowCut=0 tempo=off bass/bandHighCut=150 hat/bandLowCut=700 hat/bandLowCut=800 "
        "spare/triggerResponse=tick spare/triggerResponse=fast");
    const std::vector<std::string> changes{std::istream_iterator<std::string>(written), {}};
    for (std::size_t sent = 0; sent < 50; ++sent) {
        const std::string& change = changes[sent % changes.size()];
        const std::size_t equals = change.find('=');
        ASSERT_TRUE(peer.sendTo(
            listenPort,
            remoteCommand("/kestrano/set/" + change.substr(0, equals), change.substr(equals + 1))));
        received.collect(zandorex, 150ms);
        EXPECT_FALSE(peer.receive(0ms).has_value()) << "an answer to " << change;
    }
    received.collect(zandorex, 1s);

    // The device goes for 1.5 s and comes back under the same name.
    show.unload();
    received.collect(zandorex, 1500ms);
    show.load("show", "Show");
    const int levelsBefore = received.levels;
    received.collect(zandorex, 3s);
    EXPECT_GT(received.levels, levelsBefore + 20) << "the level did not come back";
    EXPECT_EQ(received.counts(), "kick on 1 off 0, hat on 1 off 0, bass on 0 off 0, level dips 0")
        << "through the changes and the drop";

    tone.reset();
    received.steady = false;
    received.collect(zandorex, 3s);
    EXPECT_EQ(received.counts(), "kick on 1 off 1, hat on 1 off 1, bass on 0 off 0, level dips 0")
        << "after the tone";

    // A fast cue of 20 ms, shorter than a tick, shows in the log; a busy server may pad it with
    // silence, so it gets a few tries.
    program->readUntil([] { return false; }, 200ms);
    const std::size_t before = program->output().size();
    bool logged = false;
    for (int burst = 0; burst < 5 && !logged; ++burst) {
        const ProgramResult played =
            runProgram({"/usr/bin/sox", "-q", "-n", "-c", "2", "-t", "pulseaudio", "feed", "synth",
                        "0.02", "sine", "1000", "vol", "-6dB", "pad", "0.2", "0.3"});
        ASSERT_EQ(played.status, 0) << played.errorOutput;
        logged = program->readUntil(
            [&] { return program->output().find("| hat on", before) != std::string::npos; }, 1s);
    }
    EXPECT_TRUE(logged) << program->output().substr(before);

    program->sendSignal(SIGTERM);
    EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
}

}  // namespace
