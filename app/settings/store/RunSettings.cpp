#include "app/settings/store/RunSettings.h"

#include <cstdio>

#include "app/settings/store/SettingsFile.h"

RunSettings::RunSettings(const std::optional<std::string>& settingsFile)
    : file_(openSettings(settingsFile)) {
    if (const auto& kept = file_->damagedFileNotice()) {
        notices_.push_back("settings: " + *kept);
    }
}

void printSettingsNotices(const std::vector<std::string>& notices) {
    for (const std::string& notice : notices) {
        std::fprintf(stderr, "kestrano: %s\n", notice.c_str());
    }
}
