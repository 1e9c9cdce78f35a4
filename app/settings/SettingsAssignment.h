#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/settings/SettingsModel.h"

// Checks one "KEY=VALUE" text and writes it to the settings file at once, the way every other
// path takes the same text. Gives nothing on success, otherwise what is wrong, in words, and
// writes nothing (or, when the file refused the write, the model's writeError()).
std::optional<std::string> applySettingAssignment(SettingsModel& settings,
                                                  std::string_view assignment);
