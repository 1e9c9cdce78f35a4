#include "app/control/MappingSettings.h"

#include <algorithm>

#include "app/settings/SettingsKeys.h"

namespace keys = settings_keys;

ShapingSettings shapingSettingsOf(const SettingsModel& settings) {
    ShapingSettings shaping;
    TriggerSettings& trigger = shaping.trigger;
    trigger.onThreshold = settings.decimal(keys::triggerOnThreshold);
    // Absent, the off threshold is the on threshold; the model keeps a set one at most that.
    const float off = settings.decimal(keys::triggerOffThreshold);
    trigger.offThreshold = off > 0.0f ? std::min(off, trigger.onThreshold) : trigger.onThreshold;
    trigger.onDelay = std::chrono::milliseconds(settings.whole(keys::triggerOnDelay));
    trigger.offDelay = std::chrono::milliseconds(settings.whole(keys::triggerOffDelay));
    shaping.attack = std::chrono::milliseconds(settings.whole(keys::attackTime));
    shaping.release = std::chrono::milliseconds(settings.whole(keys::releaseTime));
    return shaping;
}
