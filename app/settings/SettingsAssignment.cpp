#include "app/settings/SettingsAssignment.h"

std::optional<std::string> applySettingAssignment(SettingsModel& settings,
                                                  std::string_view assignment) {
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        return "expected KEY=VALUE, got '" + std::string(assignment) + "'";
    }
    const std::string_view key = assignment.substr(0, equals);
    if (auto problem = settings.keyProblem(key)) {
        // The names to choose from when the key (after a mapping's name, if any) is none.
        const size_t slash = key.find('/');
        const std::string_view row = slash == std::string_view::npos ? key : key.substr(slash + 1);
        return findSetting(row) == nullptr ? *problem + "; the settings are " + settingNames()
                                           : *problem;
    }
    return settings.changeFromText(key, assignment.substr(equals + 1), SettingsModel::Write::now);
}
