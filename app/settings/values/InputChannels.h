#pragma once

#include <optional>

#include <string>
#include <string_view>
#include <vector>

// The highest channel number a sound server stream can carry.
inline constexpr unsigned kHighestInputChannel = 32;

// Reads an inputChannels text: channel numbers counted from 1, as a list ("1,2"), a range ("3-4")
// or both ("1,3-4"). Gives them ascending, each once; empty (for a text of spaces or nothing) is
// every channel; nothing when the text is not such a list.
std::optional<std::vector<unsigned>> parseInputChannels(std::string_view text);
