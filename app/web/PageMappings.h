#pragma once

#include <optional>
#include <string>
#include <vector>

class KestranoController;

// One mapping as the browser page shows it: its row of the list and its band in the spectrum.
struct PageMapping {
    // Empty for the first mapping (the keys without a name).
    std::string name;
    std::string address;
    std::string mode;
    bool active = true;
    // Trigger and silence have a gate and its lamp; continuous has neither.
    bool gated = false;
    // Where its meter lies between the minimum (0) and the maximum (1); nothing without input.
    std::optional<float> position;
    bool on = false;
    // Cut frequencies in Hz, 0 for a cut that is off.
    double bandLowCut = 0.0;
    double bandHighCut = 0.0;
    // The thresholds in use, positions from 0 to 1.
    double onThreshold = 0.0;
    double offThreshold = 0.0;
    int hue = 0;
};

// Every mapping, the first included, in the order of the list, as the last tick left them. The
// page reads the mappings through this one function only.
std::vector<PageMapping> pageMappings(const KestranoController& controller);
