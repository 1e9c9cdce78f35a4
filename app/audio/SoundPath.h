#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "app/audio/level/MeterBank.h"
#include "app/audio/tap/SoundTap.h"

// The way every piece of sound takes, from whatever hands it on (a device's capture, a recording
// replayed) to what measures it: the meters, with their fragment levels in fast response, and
// the analysis taps. It reads no clock of its own: each piece comes with the time it arrived on
// the clock of whoever feeds it, so a replay measures exactly as the live capture does.
// Configured on the main thread and fed on one other thread (or the same one, in a replay), with
// the feeder's lock held around both.
struct SoundPath {
    MeterBank meters;
    // The gain of the preview to the speakers, which the feeder applies to what it plays.
    std::atomic<float> previewGain{0.0f};
    // Any thread: the preview's volume, 0.0 to 1.0 (anything else, NaN too, held within it).
    float previewVolume() const { return previewGain.load(std::memory_order_relaxed); }
    void setPreviewVolume(float volume) {
        // NaN fails both comparisons and ends up as silence.
        previewGain.store(volume > 0.0f ? std::min(volume, 1.0f) : 0.0f, std::memory_order_relaxed);
    }
    MeterBank::FragmentHandler fragmentLevelHandler;
    std::vector<std::shared_ptr<SoundTap>> soundTaps;

    // `fast`: the piece comes from a stream asked for short fragments, so the fast meters' levels
    // of it are handed on.
    void feed(const float* samples, std::size_t frames, std::size_t channelCount, double sampleRate,
              bool fast, SoundTap::Clock::time_point arrival);
};
