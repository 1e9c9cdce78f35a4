#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/CheckedPreferencesStore.h"
#include "app/settings/QSettingsPreferencesStore.h"

// The user's settings as one run of the program uses them: a file that cannot be parsed is
// copied aside before anything is written to it, and stored values that `--set` would refuse
// read as absent.
class RunSettings {
  public:
    // The file given with --config, or the user's default one.
    explicit RunSettings(const std::optional<std::string>& settingsFile);

    PreferencesStore& store() { return checked_; }
    QSettingsPreferencesStore& file() { return *file_; }
    // What was found, in words, each beginning "settings: ".
    const std::vector<std::string>& notices() const { return notices_; }
    // The notices on standard error, once, at start-up.
    void printNotices() const;

  private:
    std::unique_ptr<QSettingsPreferencesStore> file_;
    std::vector<std::string> notices_;
    CheckedPreferencesStore checked_;
};
