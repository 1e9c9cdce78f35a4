#pragma once

#include <chrono>
#include <optional>

#include "app/shaping/MonotonicClock.h"

// When trigger mode turns on and off. The on threshold and the lower off threshold keep a level
// that hovers at one of them from chattering; the delays ask that the position stays past a
// threshold for a while before the trigger follows. Silence mode is the same gate the other way
// round: on below the on threshold, off again at or above the higher off threshold.
struct TriggerSettings {
    float onThreshold = 0.5f;
    // At most onThreshold; for silence at least it.
    float offThreshold = 0.5f;
    bool silence = false;
    std::chrono::milliseconds onDelay{0};
    std::chrono::milliseconds offDelay{0};
};

class TriggerGate {
  public:
    enum class Change { none, turnedOn, turnedOff };

    TriggerGate() = default;
    // Starts on or off, as another gate left it.
    explicit TriggerGate(bool on) : on_(on) {}

    // Follows the position of a tick at `now`; says when the trigger turned.
    Change update(float position, MonotonicTime now, const TriggerSettings& settings);
    // Follows the position at once: while nothing is sent the state must not go stale, so that
    // switching to trigger mode or back to active gives no spurious turn.
    void follow(float position, const TriggerSettings& settings);
    // A tick without sound at `now`: the time since the last update does not count toward a
    // delay, as no sound is not the position staying past a threshold.
    void noSound(MonotonicTime now);

    bool isOn() const { return on_; }

  private:
    bool wantsToTurn(float position, const TriggerSettings& settings) const;

    bool on_ = false;
    // Since when the position has been past the threshold that would turn the trigger.
    std::optional<MonotonicTime> pastThresholdSince_;
    std::optional<MonotonicTime> lastUpdate_;
};
