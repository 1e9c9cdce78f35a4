#include <gtest/gtest.h>

#include <mutex>

#include "app/audio/level/LevelFigures.h"
#include "app/audio/pulse/PulseAudioCapture.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

// A sine at -6 dBFS peak (amplitude 0.5012): mean square 0.5012^2 / 2.
constexpr float kSineDecibels = -9.01f;
constexpr float kTolerance = 0.2f;
constexpr float kSixDecibels = 6.02f;
// Its largest sample: 0.5012.
constexpr float kSinePeakDecibels = -6.0f;

class PulseAudioCaptureTest : public ::testing::Test {
  protected:
    PulseAudioCaptureTest() : capture_(loop_) {}

    void selectAndRun(const std::string& sourceName) {
        std::string error;
        ASSERT_TRUE(capture_.addInput({sourceName, ""}, error)) << error;
        capture_.startRunning();
    }

    EventLoop loop_;
    PulseAudioCapture capture_;
};

TEST_F(PulseAudioCaptureTest, ListsEverySourceIncludingMonitorsAndKnowsTheDefault) {
    const auto devices = capture_.audioInputDevices();
    ASSERT_FALSE(devices.empty()) << "the private sound server is not reachable";
    EXPECT_NE(
        std::find(devices.begin(), devices.end(), AudioDevice{"feed.monitor", "Monitor of Feed"}),
        devices.end());
    EXPECT_NE(
        std::find(devices.begin(), devices.end(), AudioDevice{"out.monitor", "Monitor of Out"}),
        devices.end());
    EXPECT_NE(std::find(devices.begin(), devices.end(), AudioDevice{"mic", "Mic"}), devices.end());
    EXPECT_EQ(capture_.defaultAudioInputDevice(), (AudioDevice{"mic", "Mic"}));
}

TEST_F(PulseAudioCaptureTest, SineAtMinus6dBFSPeakReadsMinus9dBFSOnEveryChannel) {
    selectAndRun("mic");
    SineTone tone("feed");
    ASSERT_TRUE(tone.started());
    LevelSampler sampler(loop_, capture_);
    ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));

    const auto levels = sampler.medianOver(1s);
    ASSERT_EQ(levels.size(), 2u);
    for (float level : levels) {
        EXPECT_NEAR(level, kSineDecibels, kTolerance);
    }
}

TEST_F(PulseAudioCaptureTest, ChannelAttenuatedBySixDecibelsReadsSixDecibelsLower) {
    selectAndRun("mic");
    SineTone tone("feed", {"remix", "1", "1v0.5"});
    LevelSampler sampler(loop_, capture_);
    ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));

    const auto levels = sampler.medianOver(1s);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0], kSineDecibels, kTolerance);
    EXPECT_NEAR(levels[1], kSineDecibels - kSixDecibels, kTolerance);
}

TEST_F(PulseAudioCaptureTest, BandKeepsATonePassingAndCutsATonePastItsCutOff) {
    struct Case {
        int hertz;
        float lowCut;
        float highCut;
        bool passes;
    };
    const Case cases[] = {
        {100, 0, 200, true}, {5000, 0, 200, false}, {5000, 2000, 0, true}, {100, 2000, 0, false}};
    constexpr float kPassingWithin = 1.0f;
    constexpr float kCutByAtLeast = 24.0f;

    selectAndRun("mic");
    LevelSampler sampler(loop_, capture_);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.hertz << " Hz, band " << c.lowCut << " to " << c.highCut << " Hz");
        capture_.setMeters({});
        SineTone tone("feed", {}, c.hertz);
        ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));
        const auto unfiltered = sampler.medianOver(500ms);
        // The band changes while the capture runs, as when the technician edits it.
        capture_.setMeters({{{}, c.lowCut, c.highCut, false}});
        sampler.medianOver(200ms);
        const auto filtered = sampler.medianOver(1s);
        ASSERT_EQ(unfiltered.size(), 2u);
        ASSERT_EQ(filtered.size(), 2u);
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const float change = filtered[channel] - unfiltered[channel];
            std::printf("band %5.0f-%-5.0f Hz, %4d Hz tone, channel %zu: %+.2f dB\n", c.lowCut,
                        c.highCut, c.hertz, channel, change);
            if (c.passes) {
                EXPECT_NEAR(change, 0.0f, kPassingWithin);
            } else {
                EXPECT_LE(change, -kCutByAtLeast);
            }
        }
    }
}

TEST_F(PulseAudioCaptureTest, CapturesFloatAtTheSourcesOwnRateAndChannels) {
    const auto module = pactl({"load-module", "module-null-sink", "sink_name=mono44", "rate=44100",
                               "channels=1", "channel_map=mono"});
    ASSERT_TRUE(module.has_value());
    ASSERT_TRUE(runLoopUntil(
        loop_, [&] { return containsDevice(capture_.audioInputDevices(), "mono44.monitor"); }, 3s));
    selectAndRun("mono44.monitor");
    SineTone tone("mono44");
    LevelSampler sampler(loop_, capture_);
    EXPECT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));
    const auto levels = sampler.medianOver(500ms);
    const auto streams = pactl({"list", "source-outputs"}).value_or("");
    capture_.removeInput();
    pactl({"unload-module", module->substr(0, module->find('\n'))});

    ASSERT_EQ(levels.size(), 1u);
    EXPECT_NEAR(levels[0], kSineDecibels, kTolerance);
    EXPECT_NE(streams.find("float32le 1ch 44100Hz"), std::string::npos) << streams;
}

TEST_F(PulseAudioCaptureTest, SilenceReadsTheFloorAndNoInputReadsNoChannel) {
    selectAndRun("mic");
    LevelSampler sampler(loop_, capture_);
    // A fresh server's idle source delivers nothing for a while: no reading until frames come.
    ASSERT_TRUE(sampler.waitUntilBelow(-159.0f, 5s));
    const auto silent = sampler.medianOver(500ms);
    ASSERT_EQ(silent.size(), 2u);
    EXPECT_EQ(silent[0], -160.0f);
    EXPECT_EQ(silent[1], -160.0f);

    capture_.removeInput();
    EXPECT_EQ(capture_.currentInput(), std::nullopt);
    EXPECT_TRUE(capture_.channelAveragePowerLevels().empty());
}

TEST_F(PulseAudioCaptureTest, MissingSourceFailsWithADescriptionAndLeavesNoInput) {
    selectAndRun("mic");
    std::string error;
    EXPECT_FALSE(capture_.addInput({"no-such-source", "Gone"}, error));
    EXPECT_EQ(error, "no such source: no-such-source");
    EXPECT_EQ(capture_.currentInput(), std::nullopt);
    EXPECT_TRUE(capture_.channelAveragePowerLevels().empty());
}

// The server's record streams of this client: one line per stream.
std::vector<std::string> levelCaptureStreams() {
    std::vector<std::string> streams;
    const auto listing = pactl({"list", "source-outputs"});
    std::string block;
    std::size_t start = 0;
    const std::string text = listing.value_or("");
    while (start < text.size()) {
        const auto next = text.find("Source Output #", start + 1);
        block = text.substr(start, next == std::string::npos ? std::string::npos : next - start);
        if (block.find("media.name = \"Level capture\"") != std::string::npos) {
            streams.push_back(block.substr(0, block.find('\n')));
        }
        start = next == std::string::npos ? text.size() : next;
    }
    return streams;
}

TEST_F(PulseAudioCaptureTest, NestedBatchTakesEffectAtTheOutermostCommitWithAFreshStream) {
    capture_.startRunning();
    capture_.beginConfiguration();
    capture_.beginConfiguration();
    std::string error;
    ASSERT_TRUE(capture_.addInput({"mic", "Mic"}, error)) << error;
    capture_.commitConfiguration();
    EXPECT_EQ(capture_.currentInput(), (AudioDevice{"mic", "Mic"}));
    runLoopUntil(
        loop_, [] { return false; }, 300ms);
    EXPECT_TRUE(levelCaptureStreams().empty());

    capture_.commitConfiguration();
    std::vector<std::string> first;
    ASSERT_TRUE(runLoopUntil(
        loop_, [&] { return (first = levelCaptureStreams()).size() == 1; }, 3s));

    // Re-selecting the same device replaces its stream.
    capture_.beginConfiguration();
    capture_.removeInput();
    ASSERT_TRUE(capture_.addInput({"mic", "Mic"}, error)) << error;
    capture_.commitConfiguration();
    std::vector<std::string> second;
    ASSERT_TRUE(runLoopUntil(
        loop_, [&] { return (second = levelCaptureStreams()).size() == 1 && second != first; },
        3s));
}

TEST_F(PulseAudioCaptureTest, SourcesLoadedAndUnloadedWhileRunningComeAndGoByThemselves) {
    int changes = 0;
    capture_.setDevicesChangedHandler([&] { ++changes; });
    const auto module = pactl({"load-module", "module-null-sink", "sink_name=hotplug",
                               "sink_properties=device.description=Hotplug"});
    ASSERT_TRUE(module.has_value());
    EXPECT_TRUE(runLoopUntil(
        loop_,
        [&] {
            return changes > 0 && containsDevice(capture_.audioInputDevices(), "hotplug.monitor");
        },
        3s));

    changes = 0;
    ASSERT_TRUE(pactl({"unload-module", module->substr(0, module->find('\n'))}).has_value());
    EXPECT_TRUE(runLoopUntil(
        loop_,
        [&] {
            return changes > 0 && !containsDevice(capture_.audioInputDevices(), "hotplug.monitor");
        },
        3s));
}

TEST_F(PulseAudioCaptureTest, PreviewPlaysTheInputAtItsVolumeOnTheDefaultOutput) {
    EXPECT_EQ(capture_.previewVolume(), 0.0f);
    selectAndRun("mic");
    PulseAudioCapture listener(loop_);
    std::string error;
    ASSERT_TRUE(listener.addInput({"out.monitor", ""}, error)) << error;
    listener.startRunning();
    SineTone tone("feed");
    LevelSampler input(loop_, capture_);
    ASSERT_TRUE(input.waitUntilAbove(-40.0f, 5s));

    capture_.setPreviewVolume(0.5f);
    EXPECT_EQ(capture_.previewVolume(), 0.5f);
    LevelSampler output(loop_, listener);
    ASSERT_TRUE(output.waitUntilAbove(-40.0f, 3s));
    const auto halfVolume = output.medianOver(1s);
    ASSERT_EQ(halfVolume.size(), 2u);
    for (float level : halfVolume) {
        EXPECT_NEAR(level, kSineDecibels - kSixDecibels, kTolerance);
    }

    capture_.setPreviewVolume(0.0f);
    ASSERT_TRUE(output.waitUntilBelow(-150.0f, 3s));
    const auto muted = output.medianOver(500ms);
    ASSERT_EQ(muted.size(), 2u);
    EXPECT_EQ(muted[0], -160.0f);
    EXPECT_EQ(muted[1], -160.0f);
}

TEST_F(PulseAudioCaptureTest, PreviewVolumeStaysWithinZeroAndOne) {
    capture_.setPreviewVolume(1.5f);
    EXPECT_EQ(capture_.previewVolume(), 1.0f);
    capture_.setPreviewVolume(-0.5f);
    EXPECT_EQ(capture_.previewVolume(), 0.0f);
    capture_.setPreviewVolume(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(capture_.previewVolume(), 0.0f);
}

// The fragment levels a capture hands over on its own thread, per meter, kept for the test's
// thread. The capture's handler is cleared when the log goes, before the capture could call it
// again.
class FragmentLog {
  public:
    explicit FragmentLog(AudioCapture& capture) : capture_(capture) {}
    ~FragmentLog() { capture_.setFragmentLevelHandler({}); }
    FragmentLog(const FragmentLog&) = delete;
    FragmentLog& operator=(const FragmentLog&) = delete;

    AudioCapture::FragmentLevelHandler handler() {
        return [this](std::size_t meter, float averagePower, float samplePeak) {
            std::lock_guard lock(mutex_);
            levels_.resize(std::max(levels_.size(), meter + 1));
            levels_[meter].push_back({averagePower, samplePeak});
        };
    }
    // The first meter's, unless told.
    std::vector<FragmentLevel> take(std::size_t meter = 0) {
        std::lock_guard lock(mutex_);
        levels_.resize(std::max(levels_.size(), meter + 1));
        return std::exchange(levels_[meter], {});
    }

  private:
    AudioCapture& capture_;
    std::mutex mutex_;
    std::vector<std::vector<FragmentLevel>> levels_;
};

std::optional<float> medianOf(const std::vector<FragmentLevel>& levels,
                              float FragmentLevel::*figure) {
    if (levels.empty()) {
        return std::nullopt;
    }
    std::vector<float> values;
    for (const FragmentLevel& level : levels) {
        values.push_back(level.*figure);
    }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The tone on the left channel of "mic" only; the tick and every fast fragment meter the chosen
// channels alone, and a channel the input lacks gives an error and no level. A second meter of
// the right channel alone reads silence from the same capture all along.
TEST_F(PulseAudioCaptureTest, ChosenChannelsAreMeteredWithTheirSamplePeakOnTicksAndFragments) {
    struct Case {
        std::vector<unsigned> channels;
        std::vector<float> levels;
        std::optional<float> peak;
        std::string error;
        std::optional<float> fragmentPower;
    };
    const float silence = kSilenceDecibels;
    const float bothChannels = (kSineDecibels + silence) / 2;
    const Case cases[] = {
        {{}, {kSineDecibels, silence}, kSinePeakDecibels, "", bothChannels},
        {{2}, {silence}, silence, "", silence},
        {{1}, {kSineDecibels}, kSinePeakDecibels, "", kSineDecibels},
        {{3}, {}, std::nullopt, "inputChannels: Mic has 2 channels, no channel 3", std::nullopt},
        {{1, 2}, {kSineDecibels, silence}, kSinePeakDecibels, "", bothChannels},
    };
    const auto meters = [](const std::vector<unsigned>& channels) {
        return std::vector<MeterSettings>{{channels, 0, 0, true}, {{2}, 0, 0, true}};
    };
    FragmentLog fragments{capture_};
    capture_.setFragmentLevelHandler(fragments.handler());
    capture_.setMeters(meters({1}));
    selectAndRun("mic");
    SineTone tone("feed", {"remix", "1", "0"});
    ASSERT_TRUE(tone.started());
    LevelSampler sampler(loop_, capture_);
    ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "inputChannels " << testing::PrintToString(c.channels));
        capture_.setMeters(meters(c.channels));
        EXPECT_EQ(capture_.meterReadings().at(0).channelsError, c.error);
        sampler.medianOver(150ms);
        fragments.take();
        fragments.take(1);
        const auto levels = sampler.medianOver(1s);
        const auto rightChannel = capture_.meterReadings().at(1);
        const auto fragmentLevels = fragments.take();
        const auto rightFragments = fragments.take(1);

        EXPECT_EQ(rightChannel.channelsError, "");
        ASSERT_EQ(rightChannel.levels.size(), 1u);
        EXPECT_NEAR(rightChannel.levels[0], silence, kTolerance);
        EXPECT_NEAR(medianOf(rightFragments, &FragmentLevel::averagePower).value_or(0), silence,
                    kTolerance);

        ASSERT_EQ(levels.size(), c.levels.size());
        for (std::size_t channel = 0; channel < levels.size(); ++channel) {
            EXPECT_NEAR(levels[channel], c.levels[channel], kTolerance) << channel;
        }
        EXPECT_EQ(sampler.medianSamplePeak().has_value(), c.peak.has_value());
        EXPECT_NEAR(sampler.medianSamplePeak().value_or(0), c.peak.value_or(0), kTolerance);
        // The loudest channel, chosen or not, shows what the chosen ones miss.
        EXPECT_NEAR(sampler.medianLoudestChannel().value_or(0), c.error.empty() ? kSineDecibels : 0,
                    kTolerance);
        EXPECT_EQ(medianOf(fragmentLevels, &FragmentLevel::averagePower).has_value(),
                  c.fragmentPower.has_value());
        if (c.fragmentPower) {
            EXPECT_NEAR(*medianOf(fragmentLevels, &FragmentLevel::averagePower), *c.fragmentPower,
                        kTolerance);
            EXPECT_NEAR(*medianOf(fragmentLevels, &FragmentLevel::samplePeak), c.peak.value_or(0),
                        kTolerance);
        }
    }
}

TEST_F(PulseAudioCaptureTest, FastFragmentsComeTwoHundredTimesASecondToAHandlerReplacedAtWill) {
    FragmentLog first{capture_};
    FragmentLog second{capture_};
    capture_.setFragmentLevelHandler(first.handler());
    selectAndRun("mic");
    SineTone tone("feed");
    LevelSampler sampler(loop_, capture_);
    ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));
    sampler.medianOver(300ms);
    EXPECT_TRUE(first.take().empty()) << "fragments without fast response";

    // The same stream, asked for shorter fragments: opening it again would drop what it buffered
    // and blind every other meter.
    const std::vector<std::string> streams = levelCaptureStreams();
    ASSERT_EQ(streams.size(), 1u);
    capture_.setMeters({{{}, 0, 0, true}});
    sampler.medianOver(500ms);
    first.take();
    const auto begun = std::chrono::steady_clock::now();
    sampler.medianOver(2s);
    const auto levels = first.take();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    std::printf("fast response: %zu fragments in %.2f s (%.0f per second)\n", levels.size(),
                seconds, levels.size() / seconds);
    // At most 5 ms each: 200 a second of audio. A quarter of that may be late on a busy machine;
    // fragments of 10 ms would make half.
    EXPECT_GE(levels.size() / seconds, 150.0);
    EXPECT_NEAR(medianOf(levels, &FragmentLevel::averagePower).value_or(0), kSineDecibels,
                kTolerance);
    EXPECT_NEAR(medianOf(levels, &FragmentLevel::samplePeak).value_or(0), kSinePeakDecibels,
                kTolerance);
    EXPECT_EQ(levelCaptureStreams(), streams);

    // Once replaced, the old handler hears nothing more; once cleared, neither does the new one.
    capture_.setFragmentLevelHandler(second.handler());
    first.take();
    sampler.medianOver(300ms);
    EXPECT_TRUE(first.take().empty());
    EXPECT_FALSE(second.take().empty());
    capture_.setFragmentLevelHandler({});
    second.take();
    sampler.medianOver(300ms);
    EXPECT_TRUE(second.take().empty());

    // Back to the tick alone, with a handler set: it hears nothing. Both change at once, between
    // two chunks; set one after the other, a chunk of the fast meters could come between them.
    capture_.setMetering({}, first.handler());
    sampler.medianOver(300ms);
    EXPECT_TRUE(first.take().empty());
    const auto ticks = sampler.medianOver(500ms);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_NEAR(ticks[0], kSineDecibels, kTolerance);
}

}  // namespace

// Whole-signal analysis reads the input through taps. The tone on the left channel only: a tap
// of the left channel hears it at its amplitude, a tap of the right hears silence, both at the
// source's rate and in step with the capture. A tap nobody reads keeps only its newest frames and
// counts the rest.
TEST_F(PulseAudioCaptureTest, SoundTapsHearTheirChannelsAndStayBoundedWhenNotRead) {
    constexpr std::size_t kCapacity = 4800;
    auto left = std::make_shared<SoundTap>(std::vector<unsigned>{1}, kCapacity);
    auto right = std::make_shared<SoundTap>(std::vector<unsigned>{2}, kCapacity);
    capture_.addSoundTap(left);
    capture_.addSoundTap(left);
    capture_.addSoundTap(right);
    capture_.setMeters({{{1}, 0, 0, false}});
    selectAndRun("mic");
    SineTone tone("feed", {"remix", "1", "0"});
    ASSERT_TRUE(tone.started());
    LevelSampler sampler(loop_, capture_);
    ASSERT_TRUE(sampler.waitUntilAbove(-40.0f, 5s));

    const auto largest = [](SoundTap& tap, SoundTap::Block& block) {
        std::vector<float> frames(kCapacity);
        float peak = 0.0f;
        for (int read = 0; read < 20; ++read) {
            block = tap.read(frames.data(), 480, frames.size(), 1s);
            for (std::size_t frame = 0; frame < block.frames; ++frame)
                peak = std::max(peak, std::abs(frames[frame]));
        }
        return peak;
    };
    SoundTap::Block block;
    EXPECT_NEAR(largest(*left, block), 0.5012f, 0.02f);
    EXPECT_EQ(block.sampleRate, 48000.0);
    EXPECT_LE(block.framesWritten - (block.firstFrame + block.frames), kCapacity);
    EXPECT_LT(largest(*right, block), 1e-4f);

    capture_.removeSoundTap(right);
    std::vector<float> frames(2 * kCapacity);
    right->read(frames.data(), 1, frames.size(), 0ms);
    const auto droppedBefore = left->droppedFrames();
    sampler.medianOver(1s);  // the left tap is not read for a second: 48000 frames
    block = left->read(frames.data(), 1, frames.size(), 1s);
    EXPECT_EQ(block.frames, kCapacity);
    EXPECT_GE(left->droppedFrames() - droppedBefore, 48000 - 2 * kCapacity);
    EXPECT_EQ(block.framesWritten - block.firstFrame, kCapacity);
    EXPECT_EQ(right->read(frames.data(), 1, frames.size(), 100ms).frames, 0u);
}
