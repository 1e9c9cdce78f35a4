#include "app/settings/store/SettingsFile.h"

std::unique_ptr<QSettingsPreferencesStore> openSettings(
    const std::optional<std::string>& settingsFile) {
    if (!settingsFile) {
        return std::make_unique<QSettingsPreferencesStore>();
    }
    return std::make_unique<QSettingsPreferencesStore>(QString::fromStdString(*settingsFile));
}
