// The tempo through the real kestrano, as Zandorex sees it: a drum loop played into the sink of
// the private server gives tempo and beat messages, judged against the hits parec hears on the
// same source at 2 ms; loops and tones replayed give them at the recording's own times, judged
// against the hits the loop was made of; taps through remote control set a tempo of their own,
// and are ignored, once said, while the tempo is detected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCDecoder.h"
#include "osc/QVOSCMessage.h"
#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"
#include "tests/support/Recordings.h"

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 48000;

double secondsOf(Clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// A loop of `seconds` at `bpm` as a mono 16-bit WAV, then `silence` seconds of nothing: a kick
// on beats 1 and 3, a snare on 2 and 4, a hat on every eighth.
void writeLoop(const std::string& path, double bpm, double seconds, double silence = 0.0) {
    std::vector<float> sound(static_cast<std::size_t>((seconds + silence) * kRate));
    std::minstd_rand noise(7);
    std::uniform_real_distribution<float> white(-1.0f, 1.0f);
    const auto add = [&](double at, double length, const auto& sample) {
        const auto first = static_cast<std::size_t>(at * kRate);
        const auto end = static_cast<std::size_t>(seconds * kRate);
        for (std::size_t n = 0; n < length * kRate && first + n < end; ++n) {
            sound[first + n] += sample(n / static_cast<double>(kRate));
        }
    };
    const double beat = 60.0 / bpm;
    for (int index = 0; index * beat < seconds; ++index) {
        if (index % 2 == 0) {
            double phase = 0.0;
            add(index * beat, 0.12, [&](double t) {
                phase += 2 * M_PI * (45 + 75 * std::exp(-t * 30)) / kRate;
                return static_cast<float>(0.8 * std::sin(phase) * std::exp(-t * 22));
            });
        } else {
            add(index * beat, 0.15, [&](double t) {
                return static_cast<float>(0.6 * white(noise) * std::exp(-t * 25));
            });
        }
        for (const double eighth : {0.0, 0.5}) {
            add((index + eighth) * beat, 0.04, [&](double t) {
                return static_cast<float>(0.1 * white(noise) * std::exp(-t * 90));
            });
        }
    }
    std::ofstream file(path, std::ios::binary);
    const auto put = [&file](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            file.put(static_cast<char>((value >> (8 * i)) & 0xff));
        }
    };
    const auto dataBytes = static_cast<uint32_t>(sound.size() * 2);
    file.write("RIFF", 4);
    put(36 + dataBytes, 4);
    file.write("WAVEfmt ", 8);
    put(16, 4), put(1, 2), put(1, 2), put(kRate, 4), put(kRate * 2, 4), put(2, 2), put(16, 2);
    file.write("data", 4);
    put(dataBytes, 4);
    for (const float sample : sound) {
        put(static_cast<uint16_t>(static_cast<int16_t>(std::clamp(sample, -1.0f, 1.0f) * 32000)),
            2);
    }
}

// A tempo or beat message as it arrived.
struct Received {
    double time;
    std::string address;
    double value;
};

std::optional<Received> received(const QVOSCData& datagram, double time) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    if (!message || message->attachedObjects().size() != 1) {
        return std::nullopt;
    }
    const auto& argument = static_cast<const QVOSCArgument&>(*message->attachedObjects()[0]);
    const std::string address = message->address()->address();
    if (address == "/zandorex/tempo" && argument.type() == 'f') {
        return Received{time, address, argument.floatValue()};
    }
    if (address == "/zandorex/beat" && argument.type() == 'i') {
        return Received{time, address, static_cast<double>(argument.intValue())};
    }
    return std::nullopt;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

class HeadlessTempoTest : public testing::Test {
  protected:
    void start(const std::vector<std::string>& settings) {
        ASSERT_TRUE(stored);
        std::vector<std::string> all{"remoteControl=true", "active=false"};
        all.insert(all.end(), settings.begin(), settings.end());
        program = startHeadless(all);
        ASSERT_TRUE(program && program->started());
    }

    void stop() {
        if (program) {
            program->sendSignal(SIGTERM);
            EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
            program.reset();
        }
    }
    void TearDown() override { stop(); }

    // Every tempo and beat message that arrives within `duration`.
    std::vector<Received> receiveFor(std::chrono::milliseconds duration) {
        std::vector<Received> all;
        const auto deadline = Clock::now() + duration;
        while (Clock::now() < deadline) {
            if (const auto datagram = zandorex.receive(50ms)) {
                if (auto message = received(*datagram, secondsOf(Clock::now()))) {
                    all.push_back(*message);
                }
            }
        }
        return all;
    }

    bool statusComesTo(const std::string& text) {
        return program->readUntil([&] { return program->output().find(text) != std::string::npos; },
                                  10s);
    }

    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    TempDir files;
    UdpReceiver zandorex;
    UdpReceiver peer;
    uint16_t listenPort = freeUdpPort();
    bool stored = storeLevelSettings(zandorex.port(), {}, listenPort);
    std::unique_ptr<ChildProcess> program;
};

// What parec heard: the times of the loop's hits (kick and snare; hats stay below the level).
class HitObserver {
  public:
    HitObserver()
        : parec_({"/usr/bin/parec", "-d", "mic", "--raw", "--format=float32le", "--channels=1",
                  "--rate=48000", "--latency-msec=2"}) {}
    bool started() const { return parec_.started(); }

    // Reads for `duration`, and meanwhile what `alsoDo` does (it is called every few ms).
    void readFor(std::chrono::milliseconds duration, const std::function<void()>& alsoDo) {
        const auto deadline = Clock::now() + duration;
        parec_.readUntil(
            [&] {
                alsoDo();
                take(secondsOf(Clock::now()));
                return Clock::now() >= deadline;
            },
            duration + 1s);
    }
    const std::vector<double>& hits() const { return hits_; }

  private:
    void take(double now) {
        const std::string& bytes = parec_.output();
        const std::size_t frames = bytes.size() / 4;
        for (std::size_t frame = seen_; frame < frames; ++frame) {
            float sample = 0.0f;
            std::memcpy(&sample, bytes.data() + frame * 4, 4);
            // The newest frame came now, each one before it a frame earlier.
            const double when = now - static_cast<double>(frames - 1 - frame) / kRate;
            if (std::abs(sample) >= 0.4f && (hits_.empty() || when - hits_.back() > 0.15)) {
                hits_.push_back(when);
            }
        }
        seen_ = frames;
    }

    ChildProcess parec_;
    std::size_t seen_ = 0;
    std::vector<double> hits_;
};

// Live, through the sound server: a loop at 120 BPM reads 120, and from 8 s on the beats fall on
// the loop's beats as parec hears them, each one, counting 1 to 4; 2 s after the music stops the
// beats stop and the tempo is held. A tracker set to its own channels goes on through a change of
// the first mapping's. (The tracker's judgement of other loops and tones is tested on replays.)
TEST_F(HeadlessTempoTest, DetectedTempoAndBeatsFollowTheLoop) {
    const struct {
        double bpm;
        const char* minimum;
        // Set tempoChannels, and change inputChannels at 10 s.
        bool ownChannels;
    } loops[] = {{120.0, "75", true}};
    constexpr double seconds = 14.0;
    for (const auto& loop : loops) {
        SCOPED_TRACE(testing::Message() << loop.bpm << " BPM");
        const std::string path = (files.path() / "loop.wav").string();
        writeLoop(path, loop.bpm, seconds);
        std::vector<std::string> settings{"tempo=detect",
                                          std::string("tempoMinimum=") + loop.minimum};
        if (loop.ownChannels) {
            settings.emplace_back("tempoChannels=1");
        }
        start(settings);
        HitObserver observer;
        ASSERT_TRUE(observer.started());
        // Until the program reads its input; the first status line says so.
        ASSERT_TRUE(statusComesTo("tempo -")) << program->output();
        ChildProcess player({"/usr/bin/sox", "-q", path, "-t", "pulseaudio", "feed"});
        std::vector<Received> messages;
        const auto edit = Clock::now() + 10s;
        bool edited = !loop.ownChannels;
        observer.readFor(std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 4500), [&] {
            if (!edited && Clock::now() >= edit) {
                edited = peer.sendTo(listenPort, remoteCommand("/kestrano/set/inputChannels", "2"));
            }
            while (const auto datagram = zandorex.receive(0ms)) {
                if (auto message = received(*datagram, secondsOf(Clock::now()))) {
                    messages.push_back(*message);
                }
            }
        });
        ASSERT_TRUE(edited);
        const std::vector<double>& hits = observer.hits();
        ASSERT_GE(hits.size(), 20u);
        const double period = 60.0 / loop.bpm;
        const double first = hits.front();
        // The loop's beats: its period, at the phase its hits agree on.
        std::vector<double> offsets;
        for (const double hit : hits) {
            offsets.push_back(hit - (first + std::round((hit - first) / period) * period));
        }
        const double phase = first + median(offsets);
        const double end = first + seconds;

        std::vector<double> tempi, distances;
        std::vector<int> counts;
        double lastBeat = 0.0;
        for (const Received& message : messages) {
            if (message.address == "/zandorex/tempo") {
                tempi.push_back(message.value);
            } else {
                lastBeat = message.time;
                if (message.time >= first + 8.0 && message.time < end - period / 2) {
                    counts.push_back(static_cast<int>(message.value));
                    const double beat =
                        phase + std::round((message.time - phase) / period) * period;
                    distances.push_back(std::abs(message.time - beat));
                }
            }
        }
        ASSERT_FALSE(tempi.empty());
        EXPECT_NEAR(tempi.back(), loop.bpm, 1.0);
        const int expected = static_cast<int>(std::ceil((end - period / 2 - phase) / period) -
                                              std::ceil((first + 8.0 - phase) / period));
        EXPECT_NEAR(static_cast<double>(counts.size()), expected, 1.0);
        // Generous: the bench wants 20 ms on a quiet machine.
        EXPECT_LT(median(distances), 0.06);
        for (std::size_t i = 1; i < counts.size(); ++i) {
            EXPECT_EQ(counts[i], counts[i - 1] % 4 + 1) << "beat " << i;
        }
        // No phantom beats: they stop within 2 s of silence and the decay before it.
        EXPECT_LT(lastBeat, end + 3.0);
        EXPECT_TRUE(statusComesTo(" held")) << program->output();
        stop();
    }
}

// Taps through /kestrano/tap: ignored while the tempo is detected, and said so in the status;
// after /kestrano/set/tempo tap, four taps half a second apart give 120 BPM and a beat clock
// counting 1 to 4 at that tempo.
TEST_F(HeadlessTempoTest, TapsThroughRemoteControlSetTheTempo) {
    start({"tempo=detect"});
    ASSERT_TRUE(statusComesTo("tempo -")) << program->output();
    ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/tap")));
    EXPECT_TRUE(statusComesTo("tap ignored")) << program->output();
    // Said again in the status after each switch, but once a run in the log, however often a
    // peer switches.
    for (int again = 0; again < 5; ++again) {
        for (const char* mode : {"off", "detect"}) {
            ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/set/tempo", mode)));
        }
        ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/tap")));
    }
    const auto ignoredLines = [this] {
        std::size_t count = 0;
        for (std::size_t at = 0;
             (at = program->errorOutput().find("tap ignored", at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    };
    // Commands are obeyed in turn: once this is answered, every line of the taps was written.
    ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/get/tempo")));
    ASSERT_TRUE(peer.receive(5s).has_value());
    program->readUntil([&] { return ignoredLines() > 1; }, 1s);
    EXPECT_EQ(ignoredLines(), 1u) << program->errorOutput();

    ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/set/tempo", "tap")));
    for (int tap = 0; tap < 4; ++tap) {
        // The taps are the input: their spacing, not a wait for a result.
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/tap")));
    }
    const std::vector<Received> messages = receiveFor(3s);
    std::vector<double> tempi;
    std::vector<Received> beats;
    for (const Received& message : messages) {
        (message.address == "/zandorex/tempo" ? tempi.push_back(message.value)
                                              : beats.push_back(message));
    }
    ASSERT_EQ(tempi.size(), 1u);
    // A busy machine delays a tap now and then; the tempo still reads close to 120.
    EXPECT_NEAR(tempi.front(), 120.0, 10.0);
    ASSERT_GE(beats.size(), 4u);
    std::vector<double> spacing;
    for (std::size_t i = 1; i < beats.size(); ++i) {
        EXPECT_EQ(static_cast<int>(beats[i].value), static_cast<int>(beats[i - 1].value) % 4 + 1);
        spacing.push_back(beats[i].time - beats[i - 1].time);
    }
    EXPECT_NEAR(median(spacing), 60.0 / tempi.front(), 0.05);
    EXPECT_TRUE(statusComesTo(" tapped")) << program->output();
}

// The tempo and beat messages of a replay of `path` on the stored settings, at the recording's
// times; `summary` gets what the replay said on standard error.
std::vector<Received> replayed(const std::string& path, std::string& summary) {
    const ProgramResult replay = runProgram({KESTRANO_PATH, "--replay", path});
    EXPECT_EQ(replay.status, 0) << replay.errorOutput;
    summary = replay.errorOutput;
    std::vector<Received> messages;
    std::istringstream lines(replay.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Received message{};
        fields >> message.time >> message.address >> message.value;
        if (message.address == "/zandorex/tempo" || message.address == "/zandorex/beat") {
            messages.push_back(message);
        }
    }
    return messages;
}

// Replayed on the recording's clock, where every hit's time is known: a loop at 120 BPM reads
// 120; one at 174 with tempoMinimum=100 reads 174 (with the default 75 it would read 87). From 8 s
// on every beat falls within 20 ms of the loop's, counting 1 to 4 without a gap; 2 s after the
// music stops the beats stop and the tempo is held.
TEST_F(HeadlessTempoTest, ReplayedLoopsGiveTheirTempoAndABeatOnEachOfTheirs) {
    constexpr double seconds = 14.0;
    for (const auto& [bpm, minimum] : {std::pair{120.0, "75"}, {174.0, "100"}}) {
        SCOPED_TRACE(testing::Message() << bpm << " BPM");
        const std::string path = (files.path() / "loop.wav").string();
        writeLoop(path, bpm, seconds, 4.0);
        for (const std::string& setting :
             {std::string("tempo=detect"), std::string("tempoMinimum=") + minimum}) {
            ASSERT_EQ(runProgram({KESTRANO_PATH, "--set", setting}).status, 0);
        }
        std::string summary;
        const std::vector<Received> messages = replayed(path, summary);
        const double period = 60.0 / bpm;
        std::vector<double> tempi;
        std::vector<int> counts;
        double lastBeat = 0.0;
        for (const Received& message : messages) {
            if (message.address == "/zandorex/tempo") {
                tempi.push_back(message.value);
                continue;
            }
            lastBeat = message.time;
            if (message.time >= 8.0 && message.time < seconds - period / 2) {
                counts.push_back(static_cast<int>(message.value));
                EXPECT_NEAR(message.time, std::round(message.time / period) * period, 0.02)
                    << "beat at " << message.time;
            }
        }
        ASSERT_FALSE(tempi.empty()) << summary;
        EXPECT_NEAR(tempi.back(), bpm, 0.5);
        const int expected =
            static_cast<int>(std::ceil((seconds - period / 2) / period) - std::ceil(8.0 / period));
        EXPECT_NEAR(static_cast<double>(counts.size()), expected, 1.0);
        for (std::size_t i = 1; i < counts.size(); ++i) {
            EXPECT_EQ(counts[i], counts[i - 1] % 4 + 1) << "beat " << i;
        }
        EXPECT_LT(lastBeat, seconds + 3.0);
        EXPECT_NE(summary.find(", held"), std::string::npos) << summary;
        // The tracker hears the file as it is fed, however busy the machine: the same beats.
        std::string again;
        const std::vector<Received> replayedAgain = replayed(path, again);
        EXPECT_TRUE(std::equal(messages.begin(), messages.end(), replayedAgain.begin(),
                               replayedAgain.end(), [](const Received& one, const Received& other) {
                                   return one.time == other.time && one.value == other.value;
                               }));
    }
}

// A steady tone is no music: as it starts it gives one onset, and then only the faint ripple of
// its cycles against the tracker's hops, as regular as a metronome at some pitches. Neither gives
// a tempo or a beat, while the onset is among the 8 s the tempo is chosen over nor after.
TEST_F(HeadlessTempoTest, AReplayedSteadyToneGivesNoTempoAndNoBeats) {
    ASSERT_EQ(runProgram({KESTRANO_PATH, "--set", "tempo=detect"}).status, 0);
    for (const auto& [hertz, playing] : {std::pair{1000, 9.0}, {841, 13.0}}) {
        SCOPED_TRACE(testing::Message() << hertz << " Hz");
        const auto tone = makeRecording(files.path(), "tone.wav", {{playing, hertz}});
        ASSERT_FALSE(tone.empty());
        std::string summary;
        const std::vector<Received> messages = replayed(tone.string(), summary);
        EXPECT_TRUE(messages.empty()) << messages.size() << " messages, the first "
                                      << messages.front().address << " " << messages.front().value;
        EXPECT_NE(summary.find("tempo: none found, 0 beats sent"), std::string::npos) << summary;
    }
}

// The tracker's libraries (aubio, and the FFmpeg codecs it is built with) are not loaded by a
// program that does not detect the tempo; the first switch to detect brings them in.
TEST_F(HeadlessTempoTest, TrackerLibrariesComeInOnlyWithDetection) {
    const auto mapped = [this](const std::string& name) {
        std::stringstream maps;
        maps << std::ifstream("/proc/" + std::to_string(program->pid()) + "/maps").rdbuf();
        return maps.str().find(name) != std::string::npos;
    };
    start({"tempo=off"});
    ASSERT_TRUE(statusComesTo("level ")) << program->output();
    EXPECT_FALSE(mapped("libaubio"));
    EXPECT_FALSE(mapped("kestrano-beats.so"));
    ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/set/tempo", "detect")));
    ASSERT_TRUE(statusComesTo("tempo -")) << program->output();
    EXPECT_TRUE(mapped("kestrano-beats.so"));
    EXPECT_TRUE(mapped("libaubio"));
    EXPECT_EQ(program->output().find("unavailable"), std::string::npos) << program->output();
}

}  // namespace
