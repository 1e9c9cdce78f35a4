#include "app/audio/level/PeakHold.h"

#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;

namespace {

TEST(PeakHoldTest, MarkAndLampHoldForTheirTimesOnAnInjectedClock) {
    struct Step {
        std::chrono::milliseconds at;
        std::optional<float> samplePeak;
        std::optional<float> held;
        bool clipping;
    };
    const Step steps[] = {
        {0ms, -20.0f, -20.0f, false},
        {50ms, -30.0f, -20.0f, false},    // lower: the mark stays
        {100ms, -0.11f, -0.11f, false},   // just below the lamp's level
        {1599ms, -40.0f, -0.11f, false},  // the mark is held 1.5 s from when it was set
        {1600ms, -40.0f, -40.0f, false},  // then follows the latest peak
        {1650ms, -0.1f, -0.1f, true},     // -0.1 dBFS lights the lamp
        {1700ms, -50.0f, -0.1f, true},
        {3649ms, -50.0f, -50.0f, true},  // lit for 2 s
        {3650ms, -50.0f, -50.0f, false},
        {3700ms, std::nullopt, -50.0f, false},  // no input: the mark waits for its hold
        {5150ms, std::nullopt, std::nullopt, false},
        {5200ms, 0.0f, 0.0f, true},
        {5250ms, std::nullopt, 0.0f, true},  // the lamp stays lit without input too
    };
    PeakHold hold;
    const PeakHold::TimePoint start{};
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.at.count() << " ms");
        hold.update(step.samplePeak, start + step.at);
        EXPECT_EQ(hold.heldPeak(), step.held);
        EXPECT_EQ(hold.clipping(start + step.at), step.clipping);
    }
}

}  // namespace
