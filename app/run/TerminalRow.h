#pragma once

#include <string_view>

// `line` cut to what one row of the terminal on `descriptor` shows, less the last column: a line
// that wraps leaves a stacked copy behind at every update, and one that fills the last column
// loses that character to the erase that follows it. Whole when the width is not known. Asked at
// every call, so that a resized window is followed at the next line.
std::string_view fitTerminalRow(std::string_view line, int descriptor);
