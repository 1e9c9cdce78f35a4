#include "app/settings/RunSettings.h"

#include <cstdio>

#include "app/settings/SettingsFile.h"

RunSettings::RunSettings(const std::optional<std::string>& settingsFile)
    : file_(openSettings(settingsFile)), checked_(*file_) {
    if (const auto kept = file_->keepUnparsableFile()) {
        notices_.push_back("settings: " + *kept);
    }
    for (const std::string& ignored : checked_.ignoredValues()) {
        notices_.push_back("settings: " + ignored);
    }
}

void RunSettings::printNotices() const {
    for (const std::string& notice : notices_) {
        std::fprintf(stderr, "kestrano: %s\n", notice.c_str());
    }
}
