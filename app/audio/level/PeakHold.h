#pragma once

#include <chrono>
#include <optional>

// The peak mark and the clip lamp of a level meter, fed once a tick with the tick's sample peak
// (the largest sample, in dBFS). The mark stays on the highest peak for a moment so that the eye
// can catch it; the lamp stays lit longer, so that a single clipped sample is not missed. The
// time comes from the caller, so that the holds can be tested without waiting.
class PeakHold {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::milliseconds kPeakHold{1500};
    static constexpr std::chrono::milliseconds kClipHold{2000};
    // A sample this close to full scale has most likely been clipped on the way in.
    static constexpr float kClipDecibels = -0.1f;

    // The tick's sample peak at `now`; nothing when there is no input.
    void update(std::optional<float> samplePeak, TimePoint now);
    // The mark: the highest peak of the last kPeakHold, or the latest one after that; nothing
    // once the input has been gone for the hold.
    std::optional<float> heldPeak() const { return held_; }
    // Whether a peak reached kClipDecibels within the last kClipHold before `now`.
    bool clipping(TimePoint now) const { return clippedAt_ && now - *clippedAt_ < kClipHold; }

  private:
    std::optional<float> held_;
    TimePoint heldSince_{};
    std::optional<TimePoint> clippedAt_;
};
