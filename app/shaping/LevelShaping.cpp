#include "app/shaping/LevelShaping.h"

#include <algorithm>

#include "app/settings/SettingsKeys.h"

namespace keys = settings_keys;

TriggerSettings LevelShaping::triggerSettings() const {
    TriggerSettings trigger;
    trigger.onThreshold = settings_.decimal(keys::triggerOnThreshold);
    // Absent, the off threshold is the on threshold; the model keeps a set one at most that.
    const float off = settings_.decimal(keys::triggerOffThreshold);
    trigger.offThreshold = off > 0.0f ? std::min(off, trigger.onThreshold) : trigger.onThreshold;
    trigger.onDelay = std::chrono::milliseconds(settings_.whole(keys::triggerOnDelay));
    trigger.offDelay = std::chrono::milliseconds(settings_.whole(keys::triggerOffDelay));
    return trigger;
}

float LevelShaping::smooth(float position, MonotonicTime now) {
    return smoother_.update(position, now,
                            std::chrono::milliseconds(settings_.whole(keys::attackTime)),
                            std::chrono::milliseconds(settings_.whole(keys::releaseTime)));
}

void LevelShaping::follow(float position) {
    trigger_.follow(position, triggerSettings());
}

TriggerGate::Change LevelShaping::turn(float position, MonotonicTime now) {
    return trigger_.update(position, now, triggerSettings());
}
