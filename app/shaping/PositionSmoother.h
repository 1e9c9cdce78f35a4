#pragma once

#include <chrono>
#include <optional>

#include "app/shaping/MonotonicClock.h"

// One-pole smoothing of the continuous position, with its own time constant for rising (attack)
// and falling (release). Each step weighs the time that really passed since the previous one.
class PositionSmoother {
  public:
    // The smoothed position after `position` arrived at `now`; with a time constant of 0 in the
    // direction of travel, `position` itself.
    float update(float position, MonotonicTime now, std::chrono::milliseconds attack,
                 std::chrono::milliseconds release);

  private:
    std::optional<float> smoothed_;
    MonotonicTime previousTime_{};
};
