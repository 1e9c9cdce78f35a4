#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kLongestPresetName = 64;

// Why `name` cannot name a preset, in words that quote it; nothing when it can. A name is what a
// technician writes ("verse", "Act 2 - storm"): 1 to 64 printable characters or spaces, in UTF-8,
// without '/' (it names a file) and without a space at either end (two presets would look alike
// in a list).
std::optional<std::string> presetNameProblem(std::string_view name);

// Whether two names are the same without regard to case, as presets are told apart.
bool samePresetName(std::string_view one, std::string_view other);
