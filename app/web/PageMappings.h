#pragma once

#include <optional>
#include <string>
#include <vector>

class KestranoController;

// One mapping's settings as the browser page shows them: its row of the list and its band in the
// spectrum.
struct PageMapping {
    // Empty for the first mapping (the keys without a name).
    std::string name;
    std::string address;
    std::string mode;
    bool active = true;
    // Trigger and silence have a gate and its lamp; continuous has neither.
    bool gated = false;
    // Cut frequencies in Hz, 0 for a cut that is off.
    double bandLowCut = 0.0;
    double bandHighCut = 0.0;
    // The thresholds in use, positions from 0 to 1.
    double onThreshold = 0.0;
    double offThreshold = 0.0;
    int hue = 0;
};

// One mapping's reading of the last tick: where its meter lies between the minimum (0) and the
// maximum (1), nothing without input, and whether its gate is on.
struct PageReading {
    std::optional<float> position;
    bool on = false;
};

// The page reads the mappings through these two only, every mapping (the first included) in the
// order of the list: their settings, and their readings as the last tick left them.
std::vector<PageMapping> pageMappings(const KestranoController& controller);
std::vector<PageReading> pageReadings(const KestranoController& controller);
