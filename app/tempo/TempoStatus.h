#pragma once

#include <cstdint>
#include <optional>

// What the window and the status show of the tempo.
struct TempoStatus {
    // The tempo in use, folded into the range; nothing before one was found or tapped.
    std::optional<double> bpm;
    // Detect: the sound went silent, the beats stopped and the tempo is kept.
    bool held = false;
    // Detect: the tempo had is no longer steady (a change of song, a rubato passage): the beats
    // stopped and the tempo is kept until a steady one is found.
    bool unsure = false;
    // Tap: the tempo is the tapped one.
    bool tapped = false;
    // The count of the last beat sent, 1 to 4; 0 before the first.
    int beat = 0;
    // Beats sent since the mode was set, so that a view can tell a new beat from the last.
    std::uint64_t beatsSent = 0;
};
