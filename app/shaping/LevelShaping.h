#pragma once

#include <chrono>

#include "app/shaping/MonotonicClock.h"
#include "app/shaping/PositionSmoother.h"
#include "app/shaping/TriggerGate.h"

// What the shaping of one mapping works with, defaults filled in: the trigger's thresholds and
// delays, and the smoothing's time constants.
struct ShapingSettings {
    TriggerSettings trigger;
    std::chrono::milliseconds attack{0};
    std::chrono::milliseconds release{0};
};

// What happens to the position between the meter and the message: the smoothing of continuous
// mode and the trigger gate of trigger mode, with the settings its owner hands in.
class LevelShaping {
  public:
    const ShapingSettings& settings() const { return settings_; }
    void setSettings(const ShapingSettings& settings) { settings_ = settings; }

    // The smoothed position; run on every tick, so that continuous mode resumes from a fresh
    // value.
    float smooth(float position, MonotonicTime now);
    // The trigger gate follows the position without turning (continuous mode, inactive).
    void follow(float position);
    // When the trigger turns at `position`.
    TriggerGate::Change turn(float position, MonotonicTime now);
    // The trigger's state, handed over to and back from the fast response's gate.
    bool triggerIsOn() const { return trigger_.isOn(); }
    void resumeTrigger(bool on) { trigger_ = TriggerGate(on); }
    // A tick without sound: it counts toward no delay.
    void noSound(MonotonicTime now) { trigger_.noSound(now); }

  private:
    ShapingSettings settings_;
    TriggerGate trigger_;
    PositionSmoother smoother_;
};
