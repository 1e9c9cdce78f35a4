#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A recording made with sox in `folder`, mono 16-bit at 48 kHz: `parts` joined, each
// {seconds, hertz}, a sine at -6 dBFS peak, or silence for 0 Hz. Empty when sox failed.
std::filesystem::path makeRecording(const std::filesystem::path& folder, const std::string& name,
                                    const std::vector<std::pair<double, int>>& parts);
