#include "app/settings/values/InputChannels.h"

#include <algorithm>
#include <optional>
#include "app/settings/values/TrimmedText.h"

namespace {

// A channel number from 1 to kHighestInputChannel, in plain decimal digits.
std::optional<unsigned> channelNumber(std::string_view text) {
    text = trimmedText(text);
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    unsigned number = 0;
    for (const char c : text) {
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number < 1 || number > kHighestInputChannel) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

std::optional<std::vector<unsigned>> parseInputChannels(std::string_view text) {
    std::vector<unsigned> channels;
    if (trimmedText(text).empty()) {
        return channels;
    }
    std::string_view rest = text;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const auto dash = item.find('-');
        const auto first = channelNumber(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : channelNumber(item.substr(dash + 1));
        if (!first || !last || *last < *first) {
            return std::nullopt;
        }
        for (unsigned channel = *first; channel <= *last; ++channel) {
            channels.push_back(channel);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        rest = rest.substr(comma + 1);
    }
    std::sort(channels.begin(), channels.end());
    channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
    return channels;
}
