#include "app/audio/level/ChannelPowerMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {

// `frames` frames of a 1 kHz sine at 48 kHz, one amplitude per channel, interleaved.
std::vector<float> sine(std::size_t frames, const std::vector<float>& amplitudes) {
    std::vector<float> samples;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 48000.0;
        for (float amplitude : amplitudes) {
            samples.push_back(static_cast<float>(amplitude * std::sin(phase)));
        }
    }
    return samples;
}

TEST(ChannelPowerMeterTest, SineReadsItsAveragePowerAndSamplePeakPerChannel) {
    ChannelPowerMeter meter;
    meter.reset(3);
    // Full scale, -6 dBFS peak and half of that again, over whole periods.
    const auto samples = sine(480, {1.0f, 0.501187f, 0.250594f});
    meter.accumulate(samples.data(), 480, 3);
    const auto reading = meter.take();
    ASSERT_EQ(reading.averagePower.size(), 3u);
    EXPECT_NEAR(reading.averagePower[0], -3.01f, 0.01f);
    EXPECT_NEAR(reading.averagePower[1], -9.01f, 0.01f);
    EXPECT_NEAR(reading.averagePower[2], -15.03f, 0.01f);
    // 48 samples a period: the crest of the sine is among them.
    ASSERT_EQ(reading.samplePeak.size(), 3u);
    EXPECT_NEAR(reading.samplePeak[0], 0.0f, 0.01f);
    EXPECT_NEAR(reading.samplePeak[1], -6.0f, 0.01f);
    EXPECT_NEAR(reading.samplePeak[2], -12.02f, 0.01f);
}

TEST(ChannelPowerMeterTest, AveragesAllChunksSinceTheLastReadingThenStartsOver) {
    ChannelPowerMeter meter;
    meter.reset(1);
    const std::vector<float> loud(100, 1.0f);
    const std::vector<float> quiet(300, 0.0f);
    meter.accumulate(loud.data(), loud.size(), 1);
    meter.accumulate(quiet.data(), quiet.size(), 1);
    // A quarter of the frames at full scale: mean square 0.25.
    EXPECT_NEAR(meter.take().averagePower.at(0), -6.02f, 0.01f);

    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_NEAR(meter.take().averagePower.at(0), 0.0f, 0.01f);
}

TEST(ChannelPowerMeterTest, SilenceNoFramesAndBrokenSamplesReadTheFloor) {
    ChannelPowerMeter meter;
    meter.reset(2);
    EXPECT_EQ(meter.take().averagePower, (std::vector<float>{-160.0f, -160.0f}));

    const std::vector<float> silence(64, 0.0f);
    meter.accumulate(silence.data(), 32, 2);
    EXPECT_EQ(meter.take().averagePower, (std::vector<float>{-160.0f, -160.0f}));

    const std::vector<float> broken{std::numeric_limits<float>::quiet_NaN(), 1e-30f};
    meter.accumulate(broken.data(), 1, 2);
    EXPECT_EQ(meter.take().averagePower, (std::vector<float>{-160.0f, -160.0f}));
}

TEST(ChannelPowerMeterTest, AReadingWithoutNewFramesRepeatsTheLastForAFewTicksThenReadsTheFloor) {
    ChannelPowerMeter meter;
    meter.reset(1);
    const std::vector<float> loud(100, 1.0f);
    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{0.0f});
    for (int late = 0; late < ChannelPowerMeter::kHeldEmptyReadings; ++late) {
        EXPECT_EQ(meter.take().averagePower, std::vector<float>{0.0f}) << late;
    }
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{-160.0f});
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{-160.0f});

    // Frames again: the count starts over.
    meter.accumulate(loud.data(), loud.size(), 1);
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{0.0f});
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{0.0f});
}

TEST(ChannelPowerMeterTest, FramesOfAnotherChannelCountAreIgnored) {
    ChannelPowerMeter meter;
    meter.reset(1);
    const std::vector<float> loud(64, 1.0f);
    meter.accumulate(loud.data(), 32, 2);
    EXPECT_EQ(meter.take().averagePower, std::vector<float>{-160.0f});

    meter.reset(0);
    meter.accumulate(loud.data(), 32, 2);
    EXPECT_TRUE(meter.take().averagePower.empty());
    EXPECT_EQ(meter.channelCount(), 0u);
}

}  // namespace
