#include "app/run/ReplayCommand.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/control/KestranoController.h"
#include "app/replay/CueJournal.h"
#include "app/replay/RecordingFile.h"
#include "app/replay/ReplayCapture.h"
#include "app/replay/ReplayLoop.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/presets/PresetFolder.h"
#include "app/settings/store/MemoryPreferencesStore.h"
#include "app/settings/store/SettingsFile.h"

namespace keys = settings_keys;

namespace {

constexpr int damaged = 1;
constexpr int refused = 2;

int refuse(const std::string& problem) {
    std::fprintf(stderr, "kestrano: cannot replay: %s\n", problem.c_str());
    return refused;
}

// Takes each status the controller publishes into the summary, at the replay's time.
class SummaryObserver : public ControllerObserver {
  public:
    SummaryObserver(TurnSummary& summary, const ReplayLoop& loop)
        : summary_(summary), loop_(loop) {}
    void controllerPropertyChanged(ControllerProperty /*property*/) override {}
    void controllerSettingChanged(std::string_view /*key*/) override {}
    void controllerStatusChanged(const ControllerStatus& status) override {
        summary_.observe(status, loop_.now());
    }

  private:
    TurnSummary& summary_;
    const ReplayLoop& loop_;
};

// The set-up to replay: the stored one or the preset's, in memory only.
std::optional<std::string> takeSetUp(const CommandLine& commandLine,
                                     MemoryPreferencesStore& setUp) {
    const auto preferences = openSettings(commandLine.settingsFile);
    setUp = MemoryPreferencesStore(*preferences);
    if (!commandLine.preset.empty()) {
        std::string problem;
        const auto preset = PresetFolder(preferences->fileName()).read(commandLine.preset, problem);
        if (!preset) {
            return problem;
        }
        SettingsModel settings(setUp);
        settings.load();
        if (auto refusal = settings.takeSetUp(preset->settings(), preset->name())) {
            return refusal;
        }
    }
    // The recording is the one input, and so the default.
    setUp.setString(keys::inputDevice, std::nullopt);
    if (setUp.stringForKey(keys::tempo) == "detect") {
        std::fputs("kestrano: the detected tempo is not replayed; its messages are left out\n",
                   stderr);
        setUp.setString(keys::tempo, "off");
    }
    return std::nullopt;
}

// "[#########           ]  45%" on a terminal, redrawn in place.
void showProgress(std::int64_t done, std::optional<std::int64_t> total, int& shown) {
    if (!total || *total <= 0) {
        return;
    }
    const int percent = static_cast<int>(100 * done / *total);
    if (percent == shown) {
        return;
    }
    shown = percent;
    const std::string bar(static_cast<std::size_t>(percent / 5), '#');
    std::fprintf(stderr, "\r[%-20s] %3d%%", bar.c_str(), percent);
}

}  // namespace

int runReplay(const CommandLine& commandLine) {
    std::string problem;
    const std::unique_ptr<RecordingFile> recording =
        RecordingFile::open(commandLine.recording, problem);
    if (!recording) {
        return refuse(problem);
    }
    MemoryPreferencesStore setUp;
    if (const auto refusal = takeSetUp(commandLine, setUp)) {
        return refuse(*refusal);
    }
    std::FILE* journal = stdout;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> journalFile(nullptr, &std::fclose);
    if (commandLine.journal) {
        journalFile.reset(std::fopen(commandLine.journal->c_str(), "w"));
        if (!journalFile) {
            return refuse(*commandLine.journal + ": " + std::strerror(errno));
        }
        journal = journalFile.get();
    }

    ReplayLoop loop;
    // The recording's time on the steady clock's scale, from a start that no part takes for
    // "never".
    const auto start = std::chrono::steady_clock::time_point(std::chrono::hours(1));
    const auto at = [start](double seconds) {
        return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
    };
    const std::string name = std::filesystem::path(commandLine.recording).filename().string();
    auto capture = std::make_unique<ReplayCapture>(
        AudioDevice{"replay", name}, recording->channelCount(), recording->sampleRate());
    ReplayCapture& feeder = *capture;
    KestranoController controller(loop, setUp, std::move(capture),
                                  [&loop, &at] { return at(loop.now()); });
    TurnSummary summary;
    SummaryObserver observer(summary, loop);
    controller.setObserver(&observer);
    bool journalFailed = false;
    controller.rehearse(
        [&](const QVOSCMessage& message) {
            const std::string line = journalLine(loop.now(), message) + "\n";
            journalFailed |= std::fputs(line.c_str(), journal) == EOF;
        },
        false);
    controller.awakeFromNib();
    loop.advanceTo(0.0);

    // In pieces of a fast fragment's length, which every response measures alike.
    const auto pieceFrames = static_cast<std::size_t>(
        std::max(1.0, std::floor(recording->sampleRate() * MeterBank::kFragmentSeconds)));
    std::vector<float> piece(pieceFrames * recording->channelCount());
    const bool terminal = isatty(STDERR_FILENO) != 0;
    int shown = -1;
    std::int64_t fed = 0;
    while (const std::size_t frames = recording->read(piece.data(), pieceFrames)) {
        fed += static_cast<std::int64_t>(frames);
        const double end = static_cast<double>(fed) / recording->sampleRate();
        // The piece arrives at its end: a tick due before reads without it, one due then with it.
        loop.advanceUpTo(end);
        feeder.feed(piece.data(), frames, at(end));
        loop.advanceTo(end);
        if (terminal) {
            showProgress(fed, recording->frameCount(), shown);
        }
    }
    const double end = static_cast<double>(fed) / recording->sampleRate();
    if (terminal) {
        std::fputs("\r\033[K", stderr);
    }
    std::fflush(journal);
    if (journalFailed || std::ferror(journal) != 0) {
        std::fputs("kestrano: the journal could not be written whole\n", stderr);
    }
    std::fprintf(stderr, "%s: %.3f s replayed\n%s", name.c_str(), end, summary.text(end).c_str());
    if (recording->damage()) {
        std::fprintf(stderr, "kestrano: %s: %s; the journal holds the first %.3f s\n",
                     commandLine.recording.c_str(), recording->damage()->c_str(), end);
        return damaged;
    }
    return journalFailed ? damaged : 0;
}
