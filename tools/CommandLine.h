#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "osc/QVOSCTypes.h"

// Strict readers of command-line values: the whole text must be the value, nothing more.

// A decimal 32-bit integer, with an optional leading minus sign.
std::optional<int32_t> parseInt32(std::string_view text);
// A finite decimal float (for example 2.5, -1e3) that fits a 32-bit float.
std::optional<float> parseFloat(std::string_view text);
// A decimal UDP port from `lowest` to 65535.
std::optional<int32_t> parsePort(std::string_view text, int32_t lowest);
// Pairs of hexadecimal digits, any case; blanks and line breaks between digits are skipped when
// `allowBlanks` is set.
std::optional<QVOSCData> parseHex(std::string_view text, bool allowBlanks);
// Printable ASCII and blanks only; the OSC texts carry nothing else.
bool isPrintableAscii(std::string_view text);

// Writes `text` and a line break to standard output and flushes it; false when that fails.
bool writeLine(std::string_view text);

// Writes "kestrano-osc: <problem> (see 'kestrano-osc <command> --help')" on one line to
// standard error and returns the exit status for bad arguments, 2.
int usageError(std::string_view command, std::string_view problem);

// True when the arguments ask for help.
bool asksForHelp(std::span<char* const> arguments);
