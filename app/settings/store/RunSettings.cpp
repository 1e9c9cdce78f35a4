#include "app/settings/store/RunSettings.h"

#include <cstdio>

#include "app/settings/store/SettingsFile.h"
#include "transport/SystemLog.h"

namespace {

// Long enough for any disk that still answers; a show's end must not hang on one that does not.
constexpr std::chrono::seconds exitWriteWait{5};

}  // namespace

RunSettings::RunSettings(const std::optional<std::string>& settingsFile, MainLoop& mainLoop) {
    // Opened on the writer thread, which then alone touches the file; read here once it is open.
    file_ = std::make_unique<QueuedPreferencesStore>(
        [this, &settingsFile]() -> std::unique_ptr<PreferencesStore> {
            std::unique_ptr<QSettingsPreferencesStore> opened = openSettings(settingsFile);
            fileName_ = opened->fileName();
            if (const auto& kept = opened->damagedFileNotice()) {
                notices_.push_back("settings: " + *kept);
            }
            return opened;
        },
        mainLoop);
}

void RunSettings::finishWrites() {
    if (const std::optional<std::string> failure = file_->finish(exitWriteWait)) {
        systemLog("kestrano: settings not saved: " + *failure);
    }
}

void printSettingsNotices(const std::vector<std::string>& notices) {
    for (const std::string& notice : notices) {
        std::fprintf(stderr, "kestrano: %s\n", notice.c_str());
    }
}
