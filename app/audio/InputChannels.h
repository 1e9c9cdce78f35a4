#pragma once

#include <string>
#include <string_view>
#include <vector>

// The input's channels to meter, as the technician writes them in inputChannels: channel numbers
// counted from 1, as a list ("1,2"), a range ("3-4") or both ("1,3-4").
struct ParsedInputChannels {
    // Ascending, each once; empty for every channel of the input.
    std::vector<unsigned> channels;
    // Why the text was refused, ready for the technician; empty when it was understood.
    std::string error;
};

// The highest channel number a sound server stream can carry.
inline constexpr unsigned kHighestInputChannel = 32;

// Reads an inputChannels text; an empty text (or one of spaces) is every channel.
ParsedInputChannels parseInputChannels(std::string_view text);
