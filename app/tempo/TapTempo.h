#pragma once

#include <deque>
#include <optional>

#include "app/tempo/BeatGrid.h"

// Tap tempo: four or more taps, each within `seriesGap` of the one before, give the tempo and
// the phase (the grid through the taps); a longer gap starts a new series. Times in seconds.
class TapTempo {
  public:
    static constexpr double seriesGap = 2.0;
    static constexpr int tapsNeeded = 4;
    // A tap this soon after the one before is a bounce of the same one (faster than 300 BPM).
    static constexpr double shortestGap = 0.2;

    // Notes a tap; the grid when this tap completes or extends a series, nothing otherwise (a
    // bounce changes nothing).
    std::optional<BeatGrid> tap(double time);

  private:
    // The current series, its newest taps only: a long series should follow a drifting tapper.
    std::deque<double> taps_;
};
