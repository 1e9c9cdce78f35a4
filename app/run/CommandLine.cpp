#include "app/run/CommandLine.h"

#include <algorithm>
#include <cstdlib>

#include "app/settings/SettingsCatalog.h"

namespace {

constexpr size_t helpWidth = 100;

// `words` after `line`, wrapped at spaces onto lines beginning with `indent`, so that the page
// stays readable in a terminal and the man page.
std::string wrapped(std::string line, std::string_view words, const std::string& indent) {
    std::string text;
    bool first = true;
    while (!words.empty()) {
        const size_t space = words.find(' ');
        const std::string_view word = words.substr(0, space);
        if (!first && line.size() + 1 + word.size() > helpWidth) {
            text += line + "\n";
            line = indent;
            first = true;
        }
        line += (first ? "" : " ") + std::string(word);
        first = false;
        words = space == std::string_view::npos ? std::string_view() : words.substr(space + 1);
    }
    return text + line + "\n";
}

// The mode of --preset NAME and --save-preset NAME, also written --preset=NAME.
std::optional<RunMode> presetOption(std::string_view argument) {
    for (const auto& [option, mode] : {std::pair{std::string_view("--preset"), RunMode::usePreset},
                                       {std::string_view("--save-preset"), RunMode::savePreset}}) {
        if (argument == option ||
            (argument.starts_with(option) && argument.substr(option.size()).starts_with('='))) {
            return mode;
        }
    }
    return std::nullopt;
}

// The value of `option` given as "--option VALUE" or "--option=VALUE" at `index`, which moves
// past it; nothing when `argument` is not that option. An empty value means it was missing.
std::optional<std::string> optionValue(const std::vector<std::string>& arguments, size_t& index,
                                       std::string_view option) {
    const std::string& argument = arguments[index];
    if (argument == option) {
        return index + 1 < arguments.size() ? arguments[++index] : std::string();
    }
    if (argument.starts_with(option) && argument.substr(option.size()).starts_with('=')) {
        return argument.substr(option.size() + 1);
    }
    return std::nullopt;
}

bool environmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments,
                                            std::string& error) {
    CommandLine commandLine;
    bool modeChosen = false;
    // A preset named beside --replay is the set-up to replay, not one to switch to.
    const bool replaying = std::ranges::any_of(arguments, [](const std::string& argument) {
        return argument == "--replay" || argument.starts_with("--replay=");
    });
    const auto choose = [&](RunMode mode, const std::string& option) {
        if (modeChosen) {
            error = "'" + option + "' cannot be combined with another option";
            return false;
        }
        modeChosen = true;
        commandLine.mode = mode;
        return true;
    };

    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        bool chosen = false;
        if (argument == "--headless") {
            chosen = choose(RunMode::headless, argument);
        } else if (argument == "--list-devices") {
            chosen = choose(RunMode::listDevices, argument);
        } else if (argument == "--help" || argument == "-h") {
            chosen = choose(RunMode::help, argument);
        } else if (argument == "--version") {
            chosen = choose(RunMode::version, argument);
        } else if (argument == "--settings-reference") {
            chosen = choose(RunMode::settingsReference, argument);
        } else if (argument == "--set") {
            if (index + 1 == arguments.size()) {
                error = "'--set' needs KEY=VALUE";
                return std::nullopt;
            }
            chosen = choose(RunMode::setSetting, argument);
            commandLine.assignment = arguments[++index];
        } else if (const auto presetMode = presetOption(argument)) {
            const std::string option = argument.substr(0, argument.find('='));
            const bool separate = argument == option;
            if (separate && index + 1 == arguments.size()) {
                error = "'" + option + "' needs NAME";
                return std::nullopt;
            }
            chosen =
                (replaying && *presetMode == RunMode::usePreset) || choose(*presetMode, option);
            commandLine.preset = separate ? arguments[++index] : argument.substr(option.size() + 1);
        } else if (argument == "--list-presets") {
            chosen = choose(RunMode::listPresets, argument);
        } else if (const auto file = optionValue(arguments, index, "--config")) {
            if (file->empty()) {
                error = "'--config' needs FILE";
                return std::nullopt;
            }
            commandLine.settingsFile = *file;
            chosen = true;
        } else if (const auto recording = optionValue(arguments, index, "--replay")) {
            if (recording->empty()) {
                error = "'--replay' needs FILE";
                return std::nullopt;
            }
            chosen = choose(RunMode::replay, "--replay");
            commandLine.recording = *recording;
        } else if (const auto journal = optionValue(arguments, index, "--journal")) {
            if (journal->empty()) {
                error = "'--journal' needs FILE";
                return std::nullopt;
            }
            commandLine.journal = *journal;
            chosen = true;
        } else if (argument == "--monitor") {
            commandLine.monitor = true;
            chosen = true;
        } else if (argument.starts_with("--set=")) {
            chosen = choose(RunMode::setSetting, "--set");
            commandLine.assignment = argument.substr(6);
        } else {
            error = "unknown option '" + argument + "'";
        }
        if (!chosen) {
            return std::nullopt;
        }
    }
    if (commandLine.journal && commandLine.mode != RunMode::replay) {
        error = "'--journal' goes with '--replay'";
        return std::nullopt;
    }
    if (commandLine.monitor && commandLine.mode != RunMode::headless) {
        error = "'--monitor' goes with '--headless' (the window has its own monitor)";
        return std::nullopt;
    }
    return commandLine;
}

std::string usageText() {
    std::string text =
        "Usage: kestrano [--config FILE] [--headless [--monitor] | --set KEY=VALUE |\n"
        "                --preset NAME | --save-preset NAME | --list-presets |\n"
        "                --replay FILE [--preset NAME] [--journal FILE] |\n"
        "                --list-devices | --settings-reference | --help | --version]\n"
        "Meters an audio input and sends its level to Zandorex as OSC over UDP or TCP.\n"
        "\n"
        "  (no option)      open the window\n"
        "  --headless       run without a window on the stored settings; SIGINT or SIGTERM "
        "stops it\n"
        "  --monitor        with --headless: print every OSC message in and out, one line each,\n"
        "                   to standard output (the status line then goes to standard error)\n"
        "  --set KEY=VALUE  store one setting and exit; the settings and their values:\n";
    size_t keyWidth = 0;
    for (const SettingDefinition& setting : settingsCatalog()) {
        keyWidth = std::max(keyWidth, setting.key.size());
    }
    const std::string indent(21, ' ');
    for (const SettingDefinition& setting : settingsCatalog()) {
        text += wrapped(
            indent + std::string(setting.key) + std::string(keyWidth + 2 - setting.key.size(), ' '),
            setting.expected, std::string(21 + keyWidth + 2, ' '));
    }
    const std::string mappingKeys =
        "A mapping's key without a name is the first mapping's. Each mapping that mappings "
        "names has its own " +
        mappingSettingNames() +
        ", written NAME/KEY everywhere: --set kick/bandHighCut=150, the line bandHighCut=150 in "
        "the file's [kick] section, /kestrano/set/kick/bandHighCut; what such a mapping does "
        "not set is what the key's absence means above.";
    text += wrapped(indent, mappingKeys, indent);
    return text +
           "  --preset NAME    make the preset NAME the stored set-up and exit: the mappings,\n"
           "                   their keys and the tempo's, the machine's keys (ports, host,\n"
           "                   listener, remote control, input) kept; a preset with a value --set\n"
           "                   refuses is refused whole\n"
           "  --save-preset NAME\n"
           "                   store the stored set-up as the preset NAME and exit: NAME.conf, in\n"
           "                   the settings file's form, in the folder beside the settings file\n"
           "                   named after it (Kestrano.presets/); 1 to 64 printable characters,\n"
           "                   no /, the same name without regard to case being one preset\n"
           "  --list-presets   list the presets' names, one a line\n"
           "  --replay FILE    run the stored set-up (or, with --preset, that preset) over the\n"
           "                   recording FILE (WAV, FLAC, Ogg, Opus, MP3...) as fast as it goes,\n"
           "                   on the recording's own time, sending nothing and storing nothing:\n"
           "                   one line per message that would go to Zandorex (seconds into the\n"
           "                   file, address, arguments, tab-separated) on standard output, then\n"
           "                   each mapping's turns on standard error; exits 1 for a damaged\n"
           "                   file (the lines so far are kept), 2 for one it cannot replay\n"
           "  --journal FILE   with --replay: the lines go to FILE\n"
           "  --list-devices   list the sound server's inputs: name, description and channel\n"
           "                   count, the default marked with *; the name is what inputDevice\n"
           "                   takes, the channels what inputChannels counts\n"
           "  --config FILE    use the settings in FILE instead of\n"
           "                   $XDG_CONFIG_HOME/Kestrano/Kestrano.conf (one file per instance)\n"
           "  --settings-reference\n"
           "                   print the settings reference (every key, its values, what its\n"
           "                   absence means, when it is stored) as Markdown\n"
           "  --help           show this text\n"
           "  --version        show the version\n";
}

bool displayAvailable() {
    return environmentHas("DISPLAY") || environmentHas("WAYLAND_DISPLAY") ||
           environmentHas("QT_QPA_PLATFORM");
}
