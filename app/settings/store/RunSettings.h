#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/store/QueuedPreferencesStore.h"
#include "transport/MainLoop.h"

// The user's settings file as one run of the program uses it, with what was found wrong with it
// (a file that cannot be parsed was copied aside when it was opened). Its writes go to the file
// on a thread of their own; `mainLoop` hears of those that failed.
class RunSettings {
  public:
    // The file given with --config, or the user's default one.
    RunSettings(const std::optional<std::string>& settingsFile, MainLoop& mainLoop);

    QueuedPreferencesStore& file() { return *file_; }
    const QString& fileName() const { return fileName_; }
    // What was found, in words, each beginning "settings: ".
    const std::vector<std::string>& notices() const { return notices_; }
    // At exit: waits a few seconds at most for the writes still on their way, and says on the
    // log when they did not reach the file.
    void finishWrites();

  private:
    QString fileName_;
    std::vector<std::string> notices_;
    std::unique_ptr<QueuedPreferencesStore> file_;
};

// Notices about the settings on standard error, once, at start-up.
void printSettingsNotices(const std::vector<std::string>& notices);
