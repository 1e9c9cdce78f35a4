#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/SettingsModel.h"
#include "app/settings/presets/Preset.h"

// The presets of one settings file: a NAME.conf file each, in the settings file's own form, in
// the folder named after it beside it (Kestrano.presets/ beside Kestrano.conf, show.presets/
// beside show.conf), so that an instance run with --config keeps its own.
class PresetFolder {
  public:
    explicit PresetFolder(const QString& settingsFile);

    const QString& path() const { return path_; }
    // The presets' names, in order without regard to case; a file whose name breaks the name rule
    // is no preset.
    std::vector<std::string> names() const;
    // The preset named `name` without regard to case; nothing, with `problem` saying why (an
    // unknown name, or what Preset::read() refuses), when it cannot be taken.
    std::unique_ptr<Preset> read(std::string_view name, std::string& problem) const;
    // Why `name` cannot name a new preset: the name rule, or another preset's name that differs
    // only in case. Nothing when it can (also when it names a preset to be replaced).
    std::optional<std::string> nameProblem(std::string_view name) const;
    // Stores the set-up of `settings` as the preset `name`, replacing one of the same name: the
    // file is written whole under another name first, then put in place in one step, so that a
    // crash never leaves half a preset. Gives nothing when done, otherwise why not (nameProblem(),
    // or a file that could not be written).
    std::optional<std::string> save(std::string_view name, const SettingsModel& settings) const;

  private:
    QString fileOf(std::string_view name) const;

    QString path_;
};
