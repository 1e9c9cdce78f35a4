#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

#include "app/audio/AudioCapture.h"
#include "app/run/CommandLine.h"
#include "app/run/HeadlessRunner.h"
#include "app/settings/QSettingsPreferencesStore.h"
#include "app/settings/SettingsAssignment.h"
#include "app/window/WindowRunner.h"

namespace {

constexpr int usageError = 2;

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<CommandLine> commandLine =
        parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!commandLine) {
        std::fprintf(stderr, "kestrano: %s\nTry 'kestrano --help'.\n", error.c_str());
        return usageError;
    }

    switch (commandLine->mode) {
        case RunMode::help:
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case RunMode::version:
            std::printf("kestrano %s\n", KESTRANO_VERSION);
            return 0;
        case RunMode::setSetting: {
            QSettingsPreferencesStore preferences;
            if (const auto kept = preferences.keepUnparsableFile()) {
                std::fprintf(stderr, "kestrano: settings: %s\n", kept->c_str());
            }
            if (const auto problem = applySettingAssignment(preferences, commandLine->assignment)) {
                std::fprintf(stderr, "kestrano: %s\n", problem->c_str());
                return usageError;
            }
            if (!preferences.writesSucceeded()) {
                std::fprintf(stderr, "kestrano: cannot write %s\n",
                             preferences.fileName().toLocal8Bit().constData());
                return 1;
            }
            return 0;
        }
        case RunMode::headless: {
            QCoreApplication application(argc, argv);
            return runHeadless(application, makeSystemAudioCapture);
        }
        case RunMode::window:
            break;
    }

    if (!displayAvailable()) {
        std::fputs(
            "kestrano: no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "Run 'kestrano --headless' to run without a window on the stored settings.\n",
            stderr);
        return 1;
    }
    QApplication application(argc, argv);
    return runWindow(application, makeSystemAudioCapture);
}
