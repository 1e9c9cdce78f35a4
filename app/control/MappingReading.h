#pragma once

#include <algorithm>
#include <optional>
#include <string>

#include "app/control/ControllerObserver.h"
#include "app/shaping/LevelPosition.h"

// A mapping's reading of the last tick, as the window's rows and the browser page show it.
struct MappingReading {
    // Where its meter lies between the minimum (0) and the maximum (1); nothing without input.
    std::optional<float> position;
    bool on = false;
};

// The reading of the mapping named `mapping` (empty: the first, whose gate `firstOn` is, as the
// status does not hold it).
inline MappingReading readingOf(const ControllerStatus& status, bool firstOn,
                                const std::string& mapping) {
    std::optional<float> meter = status.meter;
    bool on = firstOn;
    if (!mapping.empty()) {
        const auto found = std::ranges::find(status.mappings, mapping, &MappingStatus::name);
        meter = found != status.mappings.end() ? found->meter : std::nullopt;
        on = found != status.mappings.end() && found->on;
    }
    return {meter ? std::optional(positionForMeter(*meter)) : std::nullopt, on};
}
