#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "app/audio/level/LevelFigures.h"

// Average power and sample peak per channel of interleaved float frames, gathered on the audio
// thread and read (and reset) on the main thread. The audio thread sums a whole chunk on its own
// and only takes the lock to add the chunk's totals, so neither side ever waits for long.
class ChannelPowerMeter {
  public:
    // As many channels as a sound server stream can carry.
    static constexpr std::size_t kMaxChannels = 32;
    // Readings in a row without new frames that repeat the previous reading. A busy machine can
    // deliver a stream's fragments late, and a tick that falls in that gap must not read as
    // silence (a trigger would fire off and on again); a longer gap is silence.
    static constexpr int kHeldEmptyReadings = 4;

    // Per channel, in dBFS: 10*log10 of the mean square, and 20*log10 of the largest |sample|.
    struct Reading {
        std::vector<float> averagePower;
        std::vector<float> samplePeak;
        friend bool operator==(const Reading&, const Reading&) = default;
    };

    // Starts over with `channelCount` channels (0 for none).
    void reset(std::size_t channelCount);
    // Adds `frameCount` frames of `channelCount` interleaved samples (full scale = 1.0); ignored
    // when the channel count is not the one the meter was reset to.
    void accumulate(const float* samples, std::size_t frameCount, std::size_t channelCount);
    // The frames since the previous call; then starts over. Without frames since the previous
    // call: that call's reading, kHeldEmptyReadings times, then kSilenceDecibels throughout.
    Reading take();

    std::size_t channelCount() const;

  private:
    mutable std::mutex mutex_;
    std::vector<double> sumsOfSquares_;  // guarded by mutex_
    std::vector<double> peaks_;          // guarded by mutex_
    std::size_t frameCount_ = 0;         // guarded by mutex_
    // The reading side's (the main thread), like reset().
    Reading last_;
    int emptyReadings_ = 0;
};
