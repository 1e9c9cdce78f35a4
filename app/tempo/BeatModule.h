#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

// The onset detector's library (aubio, and FFmpeg's codecs behind it) comes in a loadable module of
// its own, opened when the tempo is first detected: a program that never detects the tempo loads
// none of it. The module offers these plain C functions, so that nothing of its C++ crosses.
extern "C" {
struct KestranoBeatFunctions {
    // The layout's version: a module of another build is refused.
    int version;
    // An onset detector of `windowFrames` and `hopFrames` at `rate`; null when it cannot be made.
    void* (*create)(unsigned windowFrames, unsigned hopFrames, unsigned rate);
    void (*destroy)(void* detector);
    // One hop in; how much new sound it brought (the spectral flux, 0 or more).
    float (*novelty)(void* detector, const float* hop);
};
// The module's one exported symbol.
const KestranoBeatFunctions* kestrano_beat_functions(void);
}

inline constexpr int kestranoBeatFunctionsVersion = 2;

// The module opened, or why not.
struct BeatModule {
    std::shared_ptr<const KestranoBeatFunctions> functions;
    std::string error;
};

// Opens the first of `paths` that exists; it stays loaded for the rest of the run.
BeatModule openBeatModule(std::span<const std::string> paths);

// Where the program looks for its module: beside itself (a build folder), then where the package
// installs it, from the program's folder.
std::vector<std::string> beatModulePaths();
