#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from outside (a settings file, the sound server) made safe to print on one line: control
// characters and the backslash become \xNN, so that no tab, newline or terminal escape gets
// through; other bytes are kept, UTF-8 included. Longer than `maxLength` bytes, it is cut and
// ends in "...".
std::string shownText(std::string_view text, std::size_t maxLength);
