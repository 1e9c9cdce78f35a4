#include "app/audio/level/BandFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

// The gain in dB of one channel of `filter` for a sine at `hertz`, from the power of its output
// after the filter has settled against the power of its input.
double measuredGain(BandFilter& filter, double hertz) {
    constexpr std::size_t kSettle = 48000;
    constexpr std::size_t kMeasure = 96000;
    std::vector<float> samples(kSettle + kMeasure);
    for (std::size_t frame = 0; frame < samples.size(); ++frame) {
        samples[frame] = static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * hertz * static_cast<double>(frame) / kRate));
    }
    std::vector<float> output(samples.size());
    filter.process(samples.data(), output.data(), samples.size());
    double in = 0.0;
    double out = 0.0;
    for (std::size_t frame = kSettle; frame < samples.size(); ++frame) {
        in += double(samples[frame]) * samples[frame];
        out += double(output[frame]) * output[frame];
    }
    return 10.0 * std::log10(out / in);
}

// The second-order Butterworth magnitude in dB, on the frequency axis the bilinear transform
// maps the analogue filter to (tan(pi f / fs)), which is what a digital Butterworth can follow up
// to half the sample rate.
double butterworthGain(bool lowPass, double cut, double hertz) {
    const double ratio =
        std::tan(std::numbers::pi * hertz / kRate) / std::tan(std::numbers::pi * cut / kRate);
    const double power = std::pow(ratio, 4.0);
    return 10.0 * std::log10(lowPass ? 1.0 / (1.0 + power) : power / (1.0 + power));
}

TEST(BandFilterTest, GainFollowsTheButterworthMagnitudeUpToHalfTheSampleRate) {
    struct Case {
        bool lowPass;
        double cut;
        double hertz;
    };
    // Around each cut-off, an octave and two below and above it, and cut-offs close to half the
    // rate, which an earlier clamp at 0.45 of the rate moved down.
    const Case cases[] = {
        {true, 1000, 250},    {true, 1000, 1000},   {true, 1000, 2000},    {true, 1000, 4000},
        {false, 1000, 250},   {false, 1000, 1000},  {false, 1000, 4000},   {false, 80, 40},
        {true, 23000, 20000}, {true, 23000, 23500}, {false, 23000, 20000}, {false, 23000, 23500},
        {true, 200, 100},     {false, 200, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.lowPass ? "low-pass " : "high-pass ") << c.cut
                                        << " Hz at " << c.hertz << " Hz");
        BandFilter filter;
        filter.configure(c.lowPass ? 0.0f : float(c.cut), c.lowPass ? float(c.cut) : 0.0f, kRate,
                         1);
        EXPECT_EQ(BandFilter::statusFor(filter.lowCut(), filter.highCut(), kRate).text(), "");
        EXPECT_NEAR(measuredGain(filter, c.hertz), butterworthGain(c.lowPass, c.cut, c.hertz), 0.5);
    }
}

TEST(BandFilterTest, CutOffsAtHalfTheSampleRateAreReportedAndBrokenSamplesRestartTheFilter) {
    // A low-pass at or above half the rate is left out: everything passes.
    BandFilter lowPass;
    lowPass.configure(0.0f, 24000.0f, kRate, 1);
    EXPECT_NEAR(measuredGain(lowPass, 15000), 0.0, 0.01);
    const BandStatus leftOut = BandFilter::statusFor(0.0f, 24000.0f, kRate);
    EXPECT_TRUE(leftOut.lowPassLeftOut);
    EXPECT_FALSE(leftOut.passesNothing);
    EXPECT_EQ(leftOut.text(),
              "high cut 24000 Hz is at or above 24000 Hz (half the input's rate): no high cut");

    // A high-pass there passes nothing.
    BandFilter highPass;
    highPass.configure(30000.0f, 0.0f, kRate, 2);
    const std::vector<float> loud{0.9f, -0.9f, 0.5f, 0.25f};
    std::vector<float> out(loud.size(), 1.0f);
    EXPECT_EQ(highPass.process(loud.data(), out.data(), 2), 0u);
    EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
    const BandStatus nothing = BandFilter::statusFor(30000.0f, 0.0f, kRate);
    EXPECT_TRUE(nothing.passesNothing);
    EXPECT_EQ(nothing.text(),
              "low cut 30000 Hz is at or above 24000 Hz (half the input's rate): nothing passes");
    BandStatus broken = BandFilter::statusFor(100.0f, 0.0f, kRate);
    broken.nonFiniteSamples = 3;
    EXPECT_EQ(broken.text(), "3 samples that were not finite numbers restarted the band filter");

    // A NaN and an infinity in one channel: counted, silenced, and the channel filters on as if
    // from silence, while the other channel never noticed.
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr float inf = std::numeric_limits<float>::infinity();
    for (const bool withBand : {true, false}) {
        SCOPED_TRACE(withBand ? "band 100 to 5000 Hz" : "no band");
        BandFilter broken;
        BandFilter clean;
        broken.configure(withBand ? 100.0f : 0.0f, withBand ? 5000.0f : 0.0f, kRate, 2);
        clean.configure(withBand ? 100.0f : 0.0f, withBand ? 5000.0f : 0.0f, kRate, 2);
        const std::vector<float> brokenFrames{nan, 0.5f, inf, 0.5f};
        std::vector<float> brokenOut(4);
        EXPECT_EQ(broken.process(brokenFrames.data(), brokenOut.data(), 2), 2u);
        EXPECT_EQ(brokenOut[0], 0.0f);
        EXPECT_EQ(brokenOut[2], 0.0f);
        const std::vector<float> cleanFrames{0.0f, 0.5f, 0.0f, 0.5f};
        std::vector<float> cleanOut(4);
        clean.process(cleanFrames.data(), cleanOut.data(), 2);
        EXPECT_EQ(brokenOut[1], cleanOut[1]);
        EXPECT_EQ(brokenOut[3], cleanOut[3]);

        const std::vector<float> after{0.3f, 0.1f, -0.2f, 0.1f};
        std::vector<float> brokenAfter(4);
        std::vector<float> cleanAfter(4);
        EXPECT_EQ(broken.process(after.data(), brokenAfter.data(), 2), 0u);
        clean.process(after.data(), cleanAfter.data(), 2);
        EXPECT_EQ(brokenAfter, cleanAfter);

        // Two bands filtered at once give each one's samples exactly, broken ones included.
        if (withBand) {
            BandFilter first;
            BandFilter second;
            BandFilter firstAlone;
            BandFilter secondAlone;
            for (BandFilter* filter : {&first, &firstAlone})
                filter->configure(100, 5000, kRate, 2);
            for (BandFilter* filter : {&second, &secondAlone})
                filter->configure(0, 300, kRate, 2);
            for (const auto* frames : {&after, &brokenFrames, &after}) {
                std::vector<float> firstOut(4), secondOut(4), firstAloneOut(4), secondAloneOut(4);
                EXPECT_EQ(BandFilter::processPair(first, second, frames->data(), firstOut.data(),
                                                  secondOut.data(), 2),
                          firstAlone.process(frames->data(), firstAloneOut.data(), 2));
                secondAlone.process(frames->data(), secondAloneOut.data(), 2);
                EXPECT_EQ(firstOut, firstAloneOut);
                EXPECT_EQ(secondOut, secondAloneOut);
            }
        }
    }
}

}  // namespace
