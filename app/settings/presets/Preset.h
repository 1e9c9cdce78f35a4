#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "app/settings/SettingsModel.h"
#include "app/settings/store/QSettingsPreferencesStore.h"

// A preset read from its file and checked whole, with the settings file's rules: every key one
// of a set-up and every value one that --set takes. A file that fails is refused as a whole, so
// that a switch to it changes nothing.
class Preset {
  public:
    // Larger than any set-up of 16 mappings by far; a larger file is not one the program wrote.
    static constexpr qint64 kLargestFile = 256 * 1024;

    // The preset in `file`; nothing, with `problem` naming the file and what is wrong (the key
    // and the value for a bad value), when it cannot be taken whole.
    static std::unique_ptr<Preset> read(const QString& file, std::string& problem);

    const SettingsModel& settings() const { return settings_; }

  private:
    explicit Preset(const QString& file);
    std::optional<std::string> problem() const;

    QString file_;
    QSettingsPreferencesStore store_;
    SettingsModel settings_;
};
