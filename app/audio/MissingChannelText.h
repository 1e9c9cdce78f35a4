#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Why the channels that `key` chose cannot all be heard on the input `device`, in the words
// every such notice uses.
inline std::string missingChannelText(std::string_view key, std::string_view device,
                                      std::size_t available, unsigned channel) {
    return std::string(key) + ": " + std::string(device) + " has " + std::to_string(available) +
           (available == 1 ? " channel" : " channels") + ", no channel " + std::to_string(channel);
}
