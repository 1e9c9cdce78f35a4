#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/store/QSettingsPreferencesStore.h"

// The user's settings file as one run of the program uses it, with what was found wrong with it
// (a file that cannot be parsed was copied aside when it was opened).
class RunSettings {
  public:
    // The file given with --config, or the user's default one.
    explicit RunSettings(const std::optional<std::string>& settingsFile);

    QSettingsPreferencesStore& file() { return *file_; }
    // What was found, in words, each beginning "settings: ".
    const std::vector<std::string>& notices() const { return notices_; }

  private:
    std::unique_ptr<QSettingsPreferencesStore> file_;
    std::vector<std::string> notices_;
};

// Notices about the settings on standard error, once, at start-up.
void printSettingsNotices(const std::vector<std::string>& notices);
