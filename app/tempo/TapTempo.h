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

    // Notes a tap; the grid when this tap completes or extends a series, nothing otherwise.
    std::optional<BeatGrid> tap(double time);

  private:
    // The current series, its newest taps only: a long series should follow a drifting tapper.
    std::deque<double> taps_;
};
