#pragma once

#include <optional>
#include <string>
#include <vector>

enum class RunMode {
    window,
    headless,
    setSetting,
    usePreset,
    savePreset,
    listPresets,
    listDevices,
    replay,
    help,
    version,
    settingsReference
};

struct CommandLine {
    RunMode mode = RunMode::window;
    std::string assignment;  // KEY=VALUE, for setSetting
    std::string preset;      // NAME, for usePreset and savePreset, and for replay when given
    std::string recording;   // FILE, for replay
    // --journal FILE, with --replay: the cue journal goes there rather than to standard output.
    std::optional<std::string> journal;
    // The settings file given with --config; nothing for the user's default one.
    std::optional<std::string> settingsFile;
    // --monitor, with --headless: every OSC datagram in and out on standard output.
    bool monitor = false;
};

// The program's options, without the program name. Nothing when they make no sense; `error`
// then says why.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments,
                                            std::string& error);

std::string usageText();

// Whether a window can be shown: an X11 or Wayland display, or a Qt platform chosen explicitly.
bool displayAvailable();
