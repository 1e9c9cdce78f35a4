#include "app/web/PageMappings.h"

#include "app/control/KestranoController.h"
#include "app/control/MappingHue.h"
#include "app/control/mapping/MappingSettings.h"
#include "app/settings/SettingsKeys.h"
#include "app/shaping/LevelShaping.h"

namespace keys = settings_keys;

std::vector<PageMapping> pageMappings(const KestranoController& controller) {
    const SettingsModel& settings = controller.settings();
    std::vector<std::string> names = settings.mappingNames();
    names.insert(names.begin(), std::string());
    const SettingDefinition& mode = *findSetting(keys::type);
    std::vector<PageMapping> rows;
    rows.reserve(names.size());
    for (size_t row = 0; row < names.size(); ++row) {
        const std::string& name = names[row];
        PageMapping mapping;
        mapping.name = name;
        mapping.address = settings.text(scopedKey(name, keys::address)).value_or(std::string());
        if (const std::optional<SettingValue> value = settings.value(scopedKey(name, keys::type))) {
            mapping.mode = settingText(mode, *value);
        }
        mapping.active = settings.flag(scopedKey(name, keys::active));
        mapping.gated = settings.whole(scopedKey(name, keys::type)) != continuousMode;
        mapping.bandLowCut = settings.decimal(scopedKey(name, keys::bandLowCut));
        mapping.bandHighCut = settings.decimal(scopedKey(name, keys::bandHighCut));
        const TriggerSettings trigger = shapingSettingsOf(settings, name).trigger;
        mapping.onThreshold = trigger.onThreshold;
        mapping.offThreshold = trigger.offThreshold;
        mapping.hue = mappingHue(static_cast<int>(row));
        rows.push_back(std::move(mapping));
    }
    return rows;
}

std::vector<PageReading> pageReadings(const KestranoController& controller) {
    const ControllerStatus& status = controller.status();
    std::vector<PageReading> readings;
    std::vector<std::string> names = controller.settings().mappingNames();
    names.insert(names.begin(), std::string());
    for (const std::string& name : names) {
        const MappingStatus* reading = mappingStatus(status, name);
        readings.push_back(reading != nullptr ? PageReading{reading->position, reading->on}
                                              : PageReading{});
    }
    return readings;
}
