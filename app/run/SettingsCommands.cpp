#include "app/run/SettingsCommands.h"

#include <cstdio>

#include "app/settings/SettingsAssignment.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/presets/PresetFolder.h"
#include "app/settings/presets/PresetSwitch.h"
#include "app/settings/store/SettingsFile.h"

namespace {

constexpr int refused = 2;
constexpr int notWritten = 1;

int failure(const std::string& problem, const SettingsModel& settings) {
    std::fprintf(stderr, "kestrano: %s\n", problem.c_str());
    return settings.writeError().empty() ? refused : notWritten;
}

}  // namespace

int runSettingsCommand(const CommandLine& commandLine) {
    const auto preferences = openSettings(commandLine.settingsFile);
    if (const auto& kept = preferences->damagedFileNotice()) {
        std::fprintf(stderr, "kestrano: settings: %s\n", kept->c_str());
    }
    SettingsModel settings(*preferences);
    settings.load();
    const PresetFolder presets(preferences->fileName());
    std::optional<std::string> problem;
    switch (commandLine.mode) {
        case RunMode::setSetting:
            problem = applySettingAssignment(settings, commandLine.assignment);
            break;
        case RunMode::usePreset: {
            // As a running instance switches: nothing of the file's own is lost.
            PresetSwitch presetSwitch(settings, preferences->fileName());
            presetSwitch.takeStored();
            bool taken = false;
            problem = presetSwitch.switchTo(commandLine.preset, taken);
            break;
        }
        case RunMode::savePreset:
            if ((problem = presets.nameProblem(commandLine.preset))) {
                break;
            }
            // What the file holds that the settings refused is not in the preset: said, so that
            // nobody takes the preset for a copy of the file.
            for (const std::string& notice : settings.notices()) {
                std::fprintf(stderr, "kestrano: settings: %s\n", notice.c_str());
            }
            if ((problem = presets.save(commandLine.preset, settings))) {
                std::fprintf(stderr, "kestrano: %s\n", problem->c_str());
                return notWritten;
            }
            // The stored set-up now is that preset.
            problem = settings.change(settings_keys::preset, commandLine.preset,
                                      SettingsModel::Write::now);
            break;
        case RunMode::listPresets:
            for (const std::string& name : presets.names()) {
                std::printf("%s\n", name.c_str());
            }
            break;
        default:
            break;
    }
    return problem ? failure(*problem, settings) : 0;
}
