#pragma once

#include <string>
#include <string_view>

#include "app/settings/SettingsModel.h"
#include "app/shaping/LevelShaping.h"

// The plain values the shaping of a mapping works with, as the model gives them now: the first
// mapping's for an empty `mapping`, otherwise the listed mapping's of that name.
ShapingSettings shapingSettingsOf(const SettingsModel& settings, std::string_view mapping = {});

// Where the mapping's values go, after /zandorex/: its address, or without one its own name (the
// first mapping's is empty, so that it keeps the bare /zandorex/).
std::string mappingAddress(const SettingsModel& settings, std::string_view mapping);
