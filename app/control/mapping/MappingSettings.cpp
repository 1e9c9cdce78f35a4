#include "app/control/mapping/MappingSettings.h"

#include <algorithm>

#include "app/settings/SettingsKeys.h"

namespace keys = settings_keys;

ShapingSettings shapingSettingsOf(const SettingsModel& settings, std::string_view mapping) {
    const auto key = [mapping](std::string_view name) { return scopedKey(mapping, name); };
    ShapingSettings shaping;
    TriggerSettings& trigger = shaping.trigger;
    trigger.silence = settings.whole(key(keys::type)) == silenceMode;
    trigger.onThreshold = settings.decimal(key(keys::triggerOnThreshold));
    // Absent, the off threshold is the on threshold; the model keeps a set one on the side of the
    // on threshold that ends the state (below it for a trigger, above it for silence).
    const float off = settings.decimal(key(keys::triggerOffThreshold));
    const float kept =
        trigger.silence ? std::max(off, trigger.onThreshold) : std::min(off, trigger.onThreshold);
    trigger.offThreshold = off > 0.0f ? kept : trigger.onThreshold;
    trigger.onDelay = std::chrono::milliseconds(settings.whole(key(keys::triggerOnDelay)));
    trigger.offDelay = std::chrono::milliseconds(settings.whole(key(keys::triggerOffDelay)));
    shaping.attack = std::chrono::milliseconds(settings.whole(key(keys::attackTime)));
    shaping.release = std::chrono::milliseconds(settings.whole(key(keys::releaseTime)));
    return shaping;
}

std::string mappingAddress(const SettingsModel& settings, std::string_view mapping) {
    const std::optional<SettingValue>& held = settings.held(scopedKey(mapping, keys::address));
    return held ? std::get<std::string>(*held) : std::string(mapping);
}
