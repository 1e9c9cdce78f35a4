#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/settings/PreferencesStore.h"

// Checks one "KEY=VALUE" text for the settings store and writes it the way the program itself
// does. Gives nothing on success, otherwise what is wrong, in words, and writes nothing.
std::optional<std::string> applySettingAssignment(PreferencesStore& store,
                                                  std::string_view assignment);
