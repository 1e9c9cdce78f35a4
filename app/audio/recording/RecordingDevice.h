#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/audio/AudioCapture.h"

// A recording chosen as the input goes by "file:" and its path wherever a device goes by the
// server's name for it, so that the inputDevice setting, the device list and the status name it
// the way they name a device. No source of a sound server is named so.
namespace recording_device {

inline constexpr std::string_view kPrefix = "file:";

// The path a device name holds, or nothing for a device of the sound server.
inline std::optional<std::string> pathOf(std::string_view name) {
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) {
        return std::nullopt;
    }
    return std::string(name.substr(kPrefix.size()));
}

// The device that plays the recording at `path`, described by its file's name.
inline AudioDevice named(const std::string& path) {
    return {std::string(kPrefix) + path,
            "Recording: " + std::filesystem::path(path).filename().string()};
}

}  // namespace recording_device
