#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/audio/AudioCapture.h"
#include "app/audio/pulse/SoundServerSources.h"
#include "app/run/CommandLine.h"
#include "app/run/HeadlessRunner.h"
#include "app/run/ReplayCommand.h"
#include "app/run/SettingsCommands.h"
#include "app/settings/SettingsReference.h"
#include "app/window/WindowRunner.h"
#include "transport/SystemLog.h"

namespace {

constexpr int usageError = 2;
// As long as the program waits for the server at start-up.
constexpr std::chrono::milliseconds soundServerWait{1500};

// A mistyped --config path would otherwise run on the defaults without a word.
void noteMissingSettingsFile(const std::optional<std::string>& settingsFile) {
    if (settingsFile && !std::filesystem::exists(*settingsFile)) {
        std::fprintf(stderr,
                     "kestrano: %s does not exist yet; running on the default settings until they "
                     "are saved\n",
                     settingsFile->c_str());
    }
}

// Qt's own warnings go to the log, which never waits for standard error, instead of Qt's
// blocking write.
void logQtMessage(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& text) {
    systemLog("Qt: " + text.toStdString());
}

}  // namespace

int main(int argc, char** argv) {
    // A reader of standard output or standard error that goes away (`kestrano --headless | head`)
    // must cost its lines, not the show: the write says so instead of a signal ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(logQtMessage);
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
        case RunMode::settingsReference:
            std::fputs(settingsReferenceMarkdown().c_str(), stdout);
            return 0;
        case RunMode::version:
            std::printf("kestrano %s\n", KESTRANO_VERSION);
            return 0;
        case RunMode::setSetting:
        case RunMode::usePreset:
        case RunMode::savePreset:
        case RunMode::listPresets:
            return runSettingsCommand(*commandLine);
        case RunMode::replay: {
            // The settings and presets are Qt's files, read through QtCore's application.
            QCoreApplication application(argc, argv);
            return runReplay(*commandLine);
        }
        case RunMode::listDevices: {
            const auto sources = readSoundServerSources(soundServerWait, error);
            if (!sources) {
                std::fprintf(stderr, "kestrano: no sound server answers (%s)\n", error.c_str());
                return 1;
            }
            std::fputs(sourceListText(*sources).c_str(), stdout);
            return 0;
        }
        case RunMode::headless: {
            noteMissingSettingsFile(commandLine->settingsFile);
            QCoreApplication application(argc, argv);
            return runHeadless(application, makeSystemAudioCapture, commandLine->settingsFile,
                               commandLine->monitor);
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
    noteMissingSettingsFile(commandLine->settingsFile);
    QApplication application(argc, argv);
    return runWindow(application, makeSystemAudioCapture, commandLine->settingsFile);
}
