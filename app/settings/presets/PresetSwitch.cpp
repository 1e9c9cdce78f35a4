#include "app/settings/presets/PresetSwitch.h"

#include <QDir>
#include <QFileInfo>

#include "app/settings/SettingsKeys.h"

PresetSwitch::PresetSwitch(SettingsModel& settings, const QString& settingsFile)
    : settings_(settings), folder_(settingsFile) {
    listNames();
}

void PresetSwitch::setNamesChangedHandler(std::function<void()> handler) {
    namesChanged_ = std::move(handler);
    watcher_ = std::make_unique<QFileSystemWatcher>();
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged,
                     [this] { listNames(); });
    listNames();
}

void PresetSwitch::listNames() {
    const QString parent = QFileInfo(folder_.path()).dir().path();
    const QString watched = QFileInfo(folder_.path()).isDir() ? folder_.path() : parent;
    if (watcher_ && watcher_->directories() != QStringList{watched}) {
        if (!watcher_->directories().isEmpty()) {
            watcher_->removePaths(watcher_->directories());
        }
        watcher_->addPath(watched);
    }
    std::vector<std::string> names = folder_.names();
    if (names != names_) {
        names_ = std::move(names);
        if (namesChanged_) {
            namesChanged_();
        }
    }
}

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
    taken = false;
    std::string problem;
    const std::unique_ptr<Preset> preset = folder_.read(name, problem);
    if (!preset) {
        return problem;
    }
    // A section the technician wrote by hand, and the mapping list does not name, is theirs: a
    // switch would overwrite it, as adding or renaming a mapping would.
    for (const std::string& mapping : preset->settings().mappingNames()) {
        if (const std::optional<std::string> inTheWay = settings_.sectionInTheWay(mapping)) {
            return "preset " + preset->name() + " is not taken: " + *inTheWay;
        }
    }
    if (const std::optional<std::string> unkept = keepReplaced()) {
        return "preset " + preset->name() + " is not taken: the set-up it would replace could " +
               "not be kept as the preset '" + std::string(kReplacedPreset) + "': " + *unkept;
    }
    taken = true;
    // The keys are told one by one; the set-up is compared once, when all are taken.
    switching_ = true;
    std::optional<std::string> unwritten = settings_.takeSetUp(preset->settings(), preset->name());
    switching_ = false;
    loadedSetUp_ = settings_.setUpTexts();
    changed_ = false;
    if (unwritten) {
        return "switched, not stored: " + *unwritten;
    }
    return std::nullopt;
}

std::optional<std::string> PresetSwitch::keepReplaced() {
    // A set-up that still is the preset it came from can be had again from that preset.
    if (loaded() && loadedSetUp_ && !changed_) {
        return std::nullopt;
    }
    std::optional<std::string> problem = folder_.save(kReplacedPreset, settings_);
    listNames();
    return problem;
}

std::optional<std::string> PresetSwitch::save(std::string_view name) {
    std::optional<std::string> problem = folder_.save(name, settings_);
    listNames();
    if (problem) {
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
