#include "app/settings/SettingsAssignment.h"

#include "app/settings/SettingsCatalog.h"

std::optional<std::string> applySettingAssignment(PreferencesStore& store,
                                                  std::string_view assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        return "expected KEY=VALUE, got '" + std::string(assignment) + "'";
    }
    const std::string_view key = assignment.substr(0, equals);
    const SettingDefinition* setting = findSetting(key);
    if (setting == nullptr) {
        return "unknown setting '" + std::string(key) + "'; the settings are " + settingNames();
    }
    std::string error;
    const std::optional<SettingValue> value =
        parseSettingValue(*setting, assignment.substr(equals + 1), error);
    if (!value) {
        return error;
    }
    if (auto conflict = settingConflict(store, *setting, *value)) {
        return conflict;
    }
    storeSettingValue(store, *setting, *value);
    return std::nullopt;
}
