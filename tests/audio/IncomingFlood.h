#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "osc/QVOSCTypes.h"
#include "tests/audio/HeadlessProgram.h"

// Floods of the listen port of a running kestrano, and what the program does meanwhile.

struct FloodKind {
    std::string name;
    // Sent in turn, as fast as the system takes them.
    std::vector<QVOSCData> datagrams;
};

// Level messages, deeply nested bundles, random bytes, the largest datagram of zeros, and bundles
// packed with as many empty messages as fit in 8 KiB.
std::vector<FloodKind> floodKinds();

struct FloodFigures {
    uint64_t sent = 0;
    // As the program's status line counted them.
    uint64_t dropped = 0;
    double levelsPerSecondDuring = 0.0;
    double levelsPerSecondAfter = 0.0;
    // The same counts from the control, a second program that no flood reaches, over the same
    // wall-clock windows: what the machine let a program send at the time, flood or not.
    double controlLevelsPerSecondDuring = 0.0;
    double controlLevelsPerSecondAfter = 0.0;
    // The longest time between two level messages, during or after.
    double longestGapMs = 0.0;
    double rssBeforeMB = 0.0;
    double rssPeakMB = 0.0;
    // At the end of the time after the flood.
    double rssAfterMB = 0.0;
};

// Sends `kind` to the program's listen port over loopback from another thread for `duration`,
// then watches `after` more, counting the level messages it sends and sampling its memory;
// meanwhile counts those of `control`, which nothing floods.
FloodFigures floodProgram(HeadlessLevelRun& run, HeadlessLevelRun& control, const FloodKind& kind,
                          std::chrono::milliseconds duration, std::chrono::milliseconds after);
