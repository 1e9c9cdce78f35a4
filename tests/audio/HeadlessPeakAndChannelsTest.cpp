// The real kestrano --headless on the private server, read the way a technician would: its
// figures through remote control (/kestrano/get/level and /kestrano/get/peak, one message each),
// its status lines on standard output, and the value Zandorex receives. The clip lamp against tones
// at and below full scale, and the channel choice against a stereo input that carries the tone on
// its first channel only. Several mappings on that input, each turning on its own sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
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

constexpr float kDecibelTolerance = 0.2f;
constexpr float kValueTolerance = 0.15f;
constexpr float kSilence = -160.0f;
constexpr const char* kChannelHint = "see inputChannels";

struct Figures {
    std::optional<float> level;  // average power, dBFS
    std::optional<float> peak;   // held sample peak, dBFS
};

std::string describe(const Figures& figures) {
    std::ostringstream text;
    text << "level " << (figures.level ? std::to_string(*figures.level) : "none") << ", peak "
         << (figures.peak ? std::to_string(*figures.peak) : "none");
    return text.str();
}

// The mapping a trigger or silence message was for ("/zandorex/low" gives "low") and its value;
// nothing for the first mapping's level messages and anything else.
std::optional<std::pair<std::string, float>> mappingTurn(const QVOSCData& datagram) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    if (!message || message->attachedObjects().size() != 1 ||
        message->address()->address() == "/zandorex/level") {
        return std::nullopt;
    }
    const auto& argument = static_cast<const QVOSCArgument&>(*message->attachedObjects()[0]);
    return std::pair{message->address()->address().substr(std::strlen("/zandorex/")),
                     argument.floatValue()};
}

// The address and the one float of the message that answers a get of a single figure.
std::optional<std::pair<std::string, float>> answeredFigure(const QVOSCData& datagram) {
    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(datagram));
    if (!message || message->attachedObjects().size() != 1) {
        return std::nullopt;
    }
    const auto& argument = static_cast<const QVOSCArgument&>(*message->attachedObjects()[0]);
    return std::pair{message->address()->address(), argument.floatValue()};
}

// The program with remote control on, started on the level settings plus `settings`.
class HeadlessPeakAndChannelsTest : public testing::Test {
  protected:
    void start(const std::vector<std::string>& settings) {
        ASSERT_TRUE(stored);
        std::vector<std::string> all{"remoteControl=true"};
        all.insert(all.end(), settings.begin(), settings.end());
        program = startHeadless(all);
        ASSERT_TRUE(program && program->started());
    }

    // Both figures, asked for one at a time (a whole get would soon spend the reply budget).
    Figures figures() {
        Figures figures;
        for (const char* what : {"level", "peak"}) {
            EXPECT_TRUE(
                peer.sendTo(listenPort, remoteCommand(std::string("/kestrano/get/") + what)));
        }
        const auto deadline = Clock::now() + 1s;
        while ((!figures.level || !figures.peak) && Clock::now() < deadline) {
            const auto answer = peer.receive(200ms);
            const auto figure = answer ? answeredFigure(*answer) : std::nullopt;
            if (figure && figure->first == "/kestrano/level") {
                figures.level = figure->second;
            } else if (figure && figure->first == "/kestrano/peak") {
                figures.peak = figure->second;
            }
        }
        return figures;
    }

    // Whether the figures read `level` and `peak` on five questions in a row, a fifth of a second
    // apart, within 8 s (the tone's and the peak hold's start-up included); `last` is the last
    // reading.
    bool figuresSettleOn(float level, float peak, Figures& last) {
        const auto deadline = Clock::now() + 8s;
        int inARow = 0;
        while (inARow < 5 && Clock::now() < deadline) {
            last = figures();
            const bool on = last.level && std::abs(*last.level - level) <= kDecibelTolerance &&
                            last.peak && std::abs(*last.peak - peak) <= kDecibelTolerance;
            inARow = on ? inARow + 1 : 0;
            std::this_thread::sleep_for(200ms);
        }
        return inARow == 5;
    }

    // The last whole status line written so far.
    std::string lastStatusLine() {
        const std::string& output = program->output();
        const auto end = output.rfind('\n');
        if (end == std::string::npos) {
            return {};
        }
        const auto begin = output.rfind('\n', end - 1);
        return output.substr(begin == std::string::npos ? 0 : begin + 1,
                             end - (begin == std::string::npos ? 0 : begin + 1));
    }

    // Whether the last status line comes to say `text` (or not to), within 5 s: a log gets a
    // line as soon as the clip lamp or the louder-channel hint changes.
    bool statusComesTo(const std::string& text, bool says) {
        return program->readUntil(
            [&] { return (lastStatusLine().find(text) != std::string::npos) == says; }, 5s);
    }

    // The level value Zandorex received last, after the messages already waiting (waiting up to
    // 1 s for one). The tempo's messages share the port and are passed over: a beat that lands
    // after the last level message says nothing of the level.
    std::optional<float> lastValue() {
        std::optional<float> value;
        const auto deadline = Clock::now() + 1s;
        while (value || Clock::now() < deadline) {
            const auto wait = value ? 0ms
                                    : std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - Clock::now());
            const auto datagram = zandorex.receive(wait);
            if (!datagram) {
                break;
            }
            if (const auto level = levelValue(*datagram)) {
                value = level;
            }
        }
        return value;
    }

    void TearDown() override {
        if (program) {
            program->sendSignal(SIGTERM);
            EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
        }
    }

    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    UdpReceiver peer;
    uint16_t listenPort = freeUdpPort();
    bool stored = storeLevelSettings(zandorex.port(), {}, listenPort);
    std::unique_ptr<ChildProcess> program;
};

// Average power and sample peak are different figures: a sine's average power is 3 dB below its
// peak. The lamp lights at a full-scale sine only, and goes out once its hold is over.
TEST_F(HeadlessPeakAndChannelsTest, ClipLampLightsAtFullScaleOnlyAndGoesOutAfterItsHold) {
    start({});
    struct Case {
        const char* tone;  // sox gain over the -6 dBFS peak sine
        float level;
        float peak;
        bool clip;
    };
    const Case cases[] = {
        {"3dB", -6.02f, -3.0f, false},
        {"6dB", -3.01f, 0.0f, true},
        {"3dB", -6.02f, -3.0f, false},  // after the hold
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "sine at " << c.peak << " dBFS peak");
        SineTone tone("feed", {"vol", c.tone});
        ASSERT_TRUE(tone.started());
        Figures last;
        EXPECT_TRUE(figuresSettleOn(c.level, c.peak, last)) << describe(last);
        std::printf("sine at %.0f dBFS peak: %s\n", c.peak, describe(last).c_str());
        // A lamp lit by a quieter tone would stay lit under it.
        EXPECT_TRUE(statusComesTo("| CLIP |", c.clip)) << lastStatusLine();
    }
}

// A stereo interface with one microphone on its first input: the tone on channel 1, silence on 2.
// Every channel (the default) averages their decibels and drags the level down, and so does
// "1,2"; the status points at inputChannels while a channel not in use is far louder. Channels
// the input lacks, of a further mapping or of the tempo, are named by their key in the status.
TEST_F(HeadlessPeakAndChannelsTest, InputChannelsPicksTheChannelThatCarriesTheTone) {
    start({"mappings=extra", "extra/inputChannels=3", "tempo=detect", "tempoChannels=4"});
    SineTone tone("feed", {"remix", "1", "0"});
    ASSERT_TRUE(tone.started());
    EXPECT_TRUE(statusComesTo("extra/inputChannels: Mic has 2 channels, no channel 3", true))
        << lastStatusLine();
    EXPECT_TRUE(statusComesTo(
        "tempoChannels: Mic has 2 channels, no channel 4; the tempo listens to every channel",
        true))
        << lastStatusLine();
    struct Case {
        std::optional<std::string> channels;  // nothing: the key absent
        float level;
        float peak;
        float value;  // of 0..10
        bool hint;
    };
    const float sine = -9.01f;
    const float bothChannels = (sine + kSilence) / 2;
    const Case cases[] = {
        {std::nullopt, bothChannels, -6.0f, 0.0f, true},
        {"1", sine, -6.0f, 7.09f, false},
        {"2", kSilence, kSilence, 0.0f, true},
        {"1,2", bothChannels, -6.0f, 0.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "inputChannels " << c.channels.value_or("absent"));
        if (c.channels) {
            ASSERT_TRUE(
                peer.sendTo(listenPort, remoteCommand("/kestrano/set/inputChannels", c.channels)));
            // A figure asked for earlier may still come; nothing else may.
            const auto answer = peer.receive(200ms);
            const auto figure = answer ? answeredFigure(*answer) : std::nullopt;
            EXPECT_TRUE(!answer || (figure && (figure->first == "/kestrano/level" ||
                                               figure->first == "/kestrano/peak")))
                << "no error";
        }
        Figures last;
        EXPECT_TRUE(figuresSettleOn(c.level, c.peak, last)) << describe(last);
        const auto value = lastValue();
        ASSERT_TRUE(value.has_value());
        EXPECT_NEAR(*value, c.value, kValueTolerance);
        std::printf("inputChannels %s: %s, sent %.3f\n", c.channels.value_or("absent").c_str(),
                    describe(last).c_str(), *value);
        EXPECT_TRUE(statusComesTo(kChannelHint, c.hint)) << lastStatusLine();
    }
}

// Three mappings beside the first on one stereo input: a low-band trigger on channel 1, a
// high-band trigger on every channel, and a silence cue on channel 1. A low tone on channel 1,
// then a high tone on both, then nothing: each mapping turns on its own sound only.
TEST_F(HeadlessPeakAndChannelsTest, EachMappingTurnsOnItsOwnSoundOnly) {
    start({"mappings=low,high,quiet", "low/type=trigger", "low/inputChannels=1",
           "low/bandHighCut=200", "low/address=low", "high/type=trigger", "high/bandLowCut=3000",
           "high/address=high", "quiet/type=silence", "quiet/inputChannels=1",
           "quiet/triggerOnThreshold=0.1", "quiet/triggerOnDelay=2000", "quiet/address=quiet"});
    // The turns that arrive until every one of `expected` has come (within 10 s), in order.
    const auto turnsUntil = [this](const std::vector<std::pair<std::string, float>>& expected) {
        std::vector<std::pair<std::string, float>> turns;
        const auto deadline = Clock::now() + 10s;
        const auto missing = [&] {
            return std::any_of(expected.begin(), expected.end(), [&](const auto& turn) {
                return std::find(turns.begin(), turns.end(), turn) == turns.end();
            });
        };
        while (missing() && Clock::now() < deadline) {
            if (const auto datagram = zandorex.receive(200ms)) {
                if (const auto turn = mappingTurn(*datagram)) {
                    turns.push_back(*turn);
                }
            }
        }
        return turns;
    };
    const auto text = [](const std::vector<std::pair<std::string, float>>& turns) {
        std::string all;
        for (const auto& [name, value] : turns) {
            all += name + "=" + std::to_string(value) + " ";
        }
        return all;
    };
    using Turns = std::vector<std::pair<std::string, float>>;
    // No sound yet: the silence cue fires once it has lasted 2 s.
    Turns turns = turnsUntil({{"quiet", 10.0f}});
    EXPECT_EQ(turns, (Turns{{"quiet", 10.0f}})) << text(turns);
    {
        SineTone low("feed", {"remix", "1", "0"}, 100);
        ASSERT_TRUE(low.started());
        turns = turnsUntil({{"low", 10.0f}, {"quiet", 0.0f}});
        std::sort(turns.begin(), turns.end());
        EXPECT_EQ(turns, (Turns{{"low", 10.0f}, {"quiet", 0.0f}})) << text(turns);
        EXPECT_TRUE(statusComesTo("low on | high off | quiet off", true)) << lastStatusLine();
    }
    {
        SineTone high("feed", {}, 5000);
        ASSERT_TRUE(high.started());
        turns = turnsUntil({{"low", 0.0f}, {"high", 10.0f}});
        std::sort(turns.begin(), turns.end());
        EXPECT_EQ(turns, (Turns{{"high", 10.0f}, {"low", 0.0f}})) << text(turns);
        EXPECT_TRUE(statusComesTo("low off | high on | quiet off", true)) << lastStatusLine();
        // The high tone's own figure through remote control, in its band. A 50 ms average reads
        // low when the player feeding the server hiccups on a busy machine, so it is asked for
        // again, a fifth of a second apart, until it reads the tone (or ten times).
        std::optional<std::pair<std::string, float>> figure;
        for (int asked = 0; asked < 10 && !(figure && std::abs(figure->second + 9.0f) <= 1.0f);
             ++asked) {
            std::this_thread::sleep_for(asked == 0 ? 0ms : 200ms);
            ASSERT_TRUE(peer.sendTo(listenPort, remoteCommand("/kestrano/get/high/level")));
            const auto answer = peer.receive(10s);
            figure = answer ? answeredFigure(*answer) : std::nullopt;
            ASSERT_TRUE(figure.has_value());
            EXPECT_EQ(figure->first, "/kestrano/high/level");
        }
        EXPECT_NEAR(figure->second, -9.0f, 1.0f);
    }
    turns = turnsUntil({{"high", 0.0f}, {"quiet", 10.0f}});
    EXPECT_EQ(turns, (Turns{{"high", 0.0f}, {"quiet", 10.0f}})) << text(turns);
    EXPECT_TRUE(statusComesTo("low off | high off | quiet on", true)) << lastStatusLine();
    std::printf("last status line: %s\n", lastStatusLine().c_str());

    // A cue shorter than the log's second is in the log all the same.
    const std::size_t logged = program->output().size();
    {
        SineTone burst("feed", {"trim", "0", "0.3"}, 5000);
        ASSERT_TRUE(burst.started());
        turns = turnsUntil({{"high", 10.0f}, {"high", 0.0f}});
    }
    EXPECT_TRUE(program->readUntil(
        [&] { return program->output().find("| high on |", logged) != std::string::npos; }, 5s))
        << program->output().substr(logged);
}

// A recording played live through the sound server turns the cues its replay says: the same
// turns of each mapping, each as far from the first fast turn as the journal puts it. Live, a
// tick falls anywhere within 50 ms of the sound, so a tick's turn may differ by up to one tick;
// a fast turn by the scheduling of a busy machine only.
TEST_F(HeadlessPeakAndChannelsTest, ARecordingPlayedLiveTurnsAsItsReplaySays) {
    const std::vector<std::string> setUp = {
        "mappings=fast,tick", "fast/type=1", "fast/triggerResponse=fast", "fast/bandHighCut=400",
        "fast/address=fast",  "tick/type=1", "tick/address=tick"};
    start(setUp);
    const auto take = makeRecording(configHome.path(), "take.wav",
                                    {{0.5, 0}, {0.4, 100}, {0.6, 0}, {0.4, 100}, {0.6, 0}});
    ASSERT_FALSE(take.empty());
    struct Turn {
        std::string mapping;
        float value = 0.0f;
        double seconds = 0.0;  // from the first fast turn
    };
    // The journal's turns, the first mapping's level messages left out.
    const ProgramResult replay = runProgram({KESTRANO_PATH, "--replay", take.string()});
    ASSERT_EQ(replay.status, 0) << replay.errorOutput;
    std::vector<Turn> expected;
    std::istringstream lines(replay.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Turn turn;
        std::string address;
        fields >> turn.seconds >> address >> turn.value;
        if (address != "/zandorex/level") {
            turn.mapping = address.substr(std::strlen("/zandorex/"));
            expected.push_back(turn);
        }
    }
    ASSERT_EQ(expected.size(), 8u) << replay.output;

    ASSERT_TRUE(statusComesTo("fast off | tick off", true)) << lastStatusLine();
    ChildProcess player({"/usr/bin/sox", "-q", take.string(), "-t", "pulseaudio", "feed"});
    ASSERT_TRUE(player.started());
    std::vector<Turn> live;
    const auto deadline = Clock::now() + 15s;
    while (live.size() < expected.size() && Clock::now() < deadline) {
        if (const auto datagram = zandorex.receive(200ms)) {
            if (const auto turn = mappingTurn(*datagram)) {
                live.push_back(
                    {turn->first, turn->second,
                     std::chrono::duration<double>(Clock::now().time_since_epoch()).count()});
            }
        }
    }
    ASSERT_EQ(live.size(), expected.size());
    const auto fromFirstFast = [](std::vector<Turn>& turns) {
        const auto first = std::find_if(turns.begin(), turns.end(),
                                        [](const Turn& turn) { return turn.mapping == "fast"; });
        ASSERT_NE(first, turns.end());
        const double start = first->seconds;
        for (Turn& turn : turns) {
            turn.seconds -= start;
        }
    };
    fromFirstFast(expected);
    fromFirstFast(live);
    for (const char* mapping : {"fast", "tick"}) {
        const auto of = [mapping](const std::vector<Turn>& turns) {
            std::vector<Turn> own;
            std::copy_if(turns.begin(), turns.end(), std::back_inserter(own),
                         [mapping](const Turn& turn) { return turn.mapping == mapping; });
            return own;
        };
        const std::vector<Turn> replayed = of(expected);
        const std::vector<Turn> heard = of(live);
        ASSERT_EQ(heard.size(), replayed.size()) << mapping;
        const double tolerance = std::string(mapping) == "fast" ? 0.015 : 0.065;
        for (std::size_t index = 0; index < heard.size(); ++index) {
            EXPECT_EQ(heard[index].value, replayed[index].value) << mapping << " " << index;
            EXPECT_NEAR(heard[index].seconds, replayed[index].seconds, tolerance)
                << mapping << " " << index;
            std::printf("%s turn %zu: replay %.3f s, live %.3f s after the first fast turn\n",
                        mapping, index, replayed[index].seconds, heard[index].seconds);
        }
    }
}

}  // namespace
