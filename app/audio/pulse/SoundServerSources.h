#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"

// The sound server's sources and its default one, as kestrano --list-devices shows them.
struct SoundServerSources {
    struct Source {
        AudioDevice device;
        unsigned channels = 0;
    };
    std::vector<Source> sources;
    std::string defaultName;
};

// Asks the server (the one PULSE_SERVER names, else the user's) and waits at most `timeout`;
// nothing, with `error` saying why, when no server answers.
std::optional<SoundServerSources> readSoundServerSources(std::chrono::milliseconds timeout,
                                                         std::string& error);

// One line per source: "* " before the default and two spaces before the others, then the name
// (what inputDevice takes), a tab, the description, a tab and the channel count ("2 channels",
// what inputChannels counts). Control characters in names and descriptions are shown escaped.
std::string sourceListText(const SoundServerSources& sources);
