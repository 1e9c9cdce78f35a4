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

    // Per channel, in dBFS: 10*log10 of the mean square, and 20*log10 of the largest |sample|;
    // both empty when no frame arrived.
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
    // call there is no reading: a stream being opened again, a device gone or a busy machine's
    // late fragment is no sound, which must not read as silence (a trigger would turn off).
    Reading take();

    std::size_t channelCount() const;

  private:
    mutable std::mutex mutex_;
    std::vector<double> sumsOfSquares_;  // guarded by mutex_
    std::vector<double> peaks_;          // guarded by mutex_
    std::size_t frameCount_ = 0;         // guarded by mutex_
};
