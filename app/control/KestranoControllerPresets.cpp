// Presets of the running instance: a switch is one step for the sound.
#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"

namespace {

constexpr std::string_view noPresets = "no presets: this run keeps no settings file";

}  // namespace

void KestranoController::usePresetsBeside(const QString& settingsFile) {
    presets_ = std::make_unique<PresetSwitch>(settings_, settingsFile);
    presets_->setNamesChangedHandler([this] {
        ++status_.presetListChanges;
        statusChanged();
    });
}

std::optional<std::string> KestranoController::switchPreset(std::string_view name) {
    if (!presets_) {
        return std::string(noPresets);
    }
    // The chains follow each key as it is told; the capture changes its meters and the gates
    // they feed once, between two chunks, when the whole preset is taken.
    mappings_.holdMetering();
    bool taken = false;
    std::optional<std::string> problem = presets_->switchTo(name, taken);
    mappings_.releaseMetering(taken);
    if (taken && !problem) {
        // A store that writes off the main thread hears the file's answer after the switch.
        settings_.whenStored(
            [this, alive = std::weak_ptr<int>(alive_)](const std::optional<std::string>& failure) {
                if (failure && !alive.expired()) {
                    addSettingsNotices({"switched, not stored: " + *failure});
                }
            });
    }
    showPreset(settings_keys::preset);
    statusChanged();
    return problem;
}

std::optional<std::string> KestranoController::savePreset(std::string_view name) {
    if (!presets_) {
        return std::string(noPresets);
    }
    std::optional<std::string> problem = presets_->save(name);
    showPreset(settings_keys::preset);
    statusChanged();
    return problem;
}

std::vector<std::string> KestranoController::presetNames() const {
    return presets_ ? presets_->names() : std::vector<std::string>();
}

void KestranoController::showPreset(std::string_view key) {
    if (!presets_) {
        return;
    }
    presets_->settingChanged(key);
    status_.preset = presets_->loaded().value_or(std::string());
    status_.presetChanged = presets_->changed();
}
