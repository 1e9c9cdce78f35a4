#include "app/settings/presets/PresetSwitch.h"

#include "app/settings/SettingsKeys.h"

PresetSwitch::PresetSwitch(SettingsModel& settings, const QString& settingsFile)
    : settings_(settings), folder_(settingsFile) {}

void PresetSwitch::takeStored() {
    loadedSetUp_.reset();
    changed_ = false;
    const std::optional<std::string> name = loaded();
    if (!name) {
        return;
    }
    std::string problem;
    if (const std::unique_ptr<Preset> preset = folder_.read(*name, problem)) {
        loadedSetUp_ = preset->settings().setUpTexts();
    }
    changed_ = loadedSetUp_ != settings_.setUpTexts();
}

std::optional<std::string> PresetSwitch::switchTo(std::string_view name, bool& taken) {
    std::string problem;
    const std::unique_ptr<Preset> preset = folder_.read(name, problem);
    taken = preset != nullptr;
    if (!preset) {
        return problem;
    }
    // The keys are told one by one; the set-up is compared once, when all are taken.
    switching_ = true;
    std::optional<std::string> unwritten = settings_.takeSetUp(preset->settings(), preset->name());
    switching_ = false;
    loadedSetUp_ = settings_.setUpTexts();
    changed_ = false;
    return unwritten;
}

std::optional<std::string> PresetSwitch::save(std::string_view name) {
    if (std::optional<std::string> problem = folder_.save(name, settings_)) {
        return problem;
    }
    loadedSetUp_ = settings_.setUpTexts();
    changed_ = false;
    return settings_.change(settings_keys::preset, std::string(name), SettingsModel::Write::now);
}

std::optional<std::string> PresetSwitch::loaded() const {
    return settings_.text(settings_keys::preset);
}

void PresetSwitch::settingChanged(std::string_view key) {
    if (switching_ || !loaded()) {
        return;
    }
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (scoped && inSetUp(*scoped->setting)) {
        changed_ = loadedSetUp_ != settings_.setUpTexts();
    }
}
