#pragma once

#include <QFileSystemWatcher>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/SettingsModel.h"
#include "app/settings/presets/PresetFolder.h"

// The presets of a running instance: switches the live set-up to one, stores the live set-up as
// one, and knows which preset the set-up came from and whether it was changed since. Everything
// runs on the main thread.
class PresetSwitch {
  public:
    // Where a switch keeps the set-up it replaces when that set-up is no preset unchanged (made
    // by hand, or a preset changed since it was taken), so that the technician can go back to it.
    static constexpr std::string_view kReplacedPreset = "before the last switch";

    // The presets kept beside `settingsFile`.
    PresetSwitch(SettingsModel& settings, const QString& settingsFile);

    // After the settings were loaded: reads the preset the stored set-up came from, to tell
    // whether the set-up still is that preset.
    void takeStored();
    // Takes the preset `name` as the set-up, stored at once: nothing when done, otherwise why
    // not. `taken` says whether the set-up changed: not when the preset was refused (it cannot
    // be read, its mappings meet sections of the file that the list does not name, or the set-up
    // it replaces could not be kept), but also when only writing the file failed, which is said
    // as "switched, not stored".
    std::optional<std::string> switchTo(std::string_view name, bool& taken);
    // Stores the live set-up as the preset `name`, which then is the one it came from.
    std::optional<std::string> save(std::string_view name);
    // The presets' names, as the folder last held them: listed again when the folder changes,
    // never on each call, which the page and remote control make as often as settings change.
    const std::vector<std::string>& names() const { return names_; }
    // From now on, the folder is watched, and `handler` called on the main thread after the list
    // changed. A run that only changes the file and exits needs neither.
    void setNamesChangedHandler(std::function<void()> handler);
    // The preset the set-up came from, as its file is named; nothing before any was taken.
    std::optional<std::string> loaded() const;
    // Whether the live set-up differs from that preset (or the preset cannot be read any more).
    bool changed() const { return changed_; }
    // To be told of every changed setting before whoever reads changed().
    void settingChanged(std::string_view key);

  private:
    // Stores the live set-up as kReplacedPreset unless it can be had again as it is; why not,
    // when that failed.
    std::optional<std::string> keepReplaced();
    // Lists the folder again, and watches it (or, while it does not exist, the folder it will be
    // made in).
    void listNames();

    SettingsModel& settings_;
    PresetFolder folder_;
    std::vector<std::string> names_;
    // Made once a running instance asks to hear of changes.
    std::unique_ptr<QFileSystemWatcher> watcher_;
    std::function<void()> namesChanged_;
    // The set-up of the loaded preset, as its file's texts; nothing when it could not be read.
    std::optional<std::map<std::string, std::string>> loadedSetUp_;
    bool changed_ = false;
    bool switching_ = false;
};
