#include "app/settings/SettingsAssignment.h"

std::optional<std::string> applySettingAssignment(SettingsModel& settings,
                                                  std::string_view assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        return "expected KEY=VALUE, got '" + std::string(assignment) + "'";
    }
    const std::string_view key = assignment.substr(0, equals);
    if (findSetting(key) == nullptr) {
        return "unknown setting '" + std::string(key) + "'; the settings are " + settingNames();
    }
    return settings.changeFromText(key, assignment.substr(equals + 1), SettingsModel::Write::now);
}
