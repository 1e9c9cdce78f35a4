#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/settings/store/QSettingsPreferencesStore.h"

// The settings a run works on: the file given with --config, or the user's default one.
std::unique_ptr<QSettingsPreferencesStore> openSettings(
    const std::optional<std::string>& settingsFile);
