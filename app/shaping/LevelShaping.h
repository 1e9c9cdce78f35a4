#pragma once

#include "app/settings/SettingsModel.h"
#include "app/shaping/MonotonicClock.h"
#include "app/shaping/PositionSmoother.h"
#include "app/shaping/TriggerGate.h"

// What happens to the position between the meter and the message: the smoothing of continuous
// mode and the trigger gate of trigger mode, each reading its settings from the model when used.
class LevelShaping {
  public:
    explicit LevelShaping(const SettingsModel& settings) : settings_(settings) {}

    // The thresholds and delays trigger mode works with, defaults filled in.
    TriggerSettings triggerSettings() const;
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

  private:
    const SettingsModel& settings_;
    TriggerGate trigger_;
    PositionSmoother smoother_;
};
