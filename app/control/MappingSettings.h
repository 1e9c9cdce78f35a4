#pragma once

#include "app/settings/SettingsModel.h"
#include "app/shaping/LevelShaping.h"

// The plain values the shaping of a mapping works with, as the model gives them now.
ShapingSettings shapingSettingsOf(const SettingsModel& settings);
