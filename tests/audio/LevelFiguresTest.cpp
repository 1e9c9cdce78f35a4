#include "app/audio/level/LevelFigures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

// A fragment as the server delivers it in fast response: 5 ms of 48 kHz stereo, a 1 kHz sine at
// -6 dBFS peak on the left, silence on the right, and one full-scale click in the right channel
// when asked.
std::vector<float> recordedFragment(bool click) {
    std::vector<float> frames;
    for (int frame = 0; frame < 240; ++frame) {
        frames.push_back(
            static_cast<float>(0.501187 * std::sin(2 * std::numbers::pi * frame / 48.0)));
        frames.push_back(click && frame == 100 ? -1.0f : 0.0f);
    }
    return frames;
}

TEST(LevelFiguresTest, AFragmentReadsItsChosenChannelsLikeTheTick) {
    struct Case {
        std::uint32_t channels;
        bool click;
        float averagePower;
        float samplePeak;
    };
    // The click adds 1/240 to the right channel's mean square: -23.8 dBFS.
    const Case cases[] = {
        {0b01, false, -9.01f, -6.0f},     {0b10, false, -160.0f, -160.0f},
        {0b11, false, -84.51f, -6.0f},    {0b10, true, -23.80f, 0.0f},
        {0b11, true, -16.41f, 0.0f},      {0b00, true, -160.0f, -160.0f},
        {0b100, false, -160.0f, -160.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channels " << c.channels << (c.click ? ", click" : ""));
        const auto frames = recordedFragment(c.click);
        const FragmentLevel level = fragmentLevel(frames.data(), 240, 2, c.channels);
        EXPECT_NEAR(level.averagePower, c.averagePower, 0.01f);
        EXPECT_NEAR(level.samplePeak, c.samplePeak, 0.01f);
    }
    const FragmentLevel empty = fragmentLevel(nullptr, 0, 2, 0b11);
    EXPECT_EQ(empty.averagePower, kSilenceDecibels);
    EXPECT_EQ(empty.samplePeak, kSilenceDecibels);
}

}  // namespace
