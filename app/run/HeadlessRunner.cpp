#include "app/run/HeadlessRunner.h"

#include <unistd.h>

#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "app/audio/frequencies/SpectrumFeed.h"
#include "app/control/KestranoController.h"
#include "app/control/ObserverFanOut.h"
#include "app/control/StatusText.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/run/StatusLogThrottle.h"
#include "app/run/TerminalRow.h"
#include "app/settings/store/RunSettings.h"
#include "app/web/WebPage.h"
#include "transport/LineOutput.h"
#include "transport/SystemLog.h"

namespace {

constexpr int terminalStatusInterval = 250;  // milliseconds
constexpr int logStatusInterval = 1000;
constexpr auto logQuietInterval = std::chrono::minutes(1);
constexpr auto logTurnSpacing = std::chrono::milliseconds(100);
constexpr int outputReportInterval = 1000;

// The trigger and silence mappings that are on, one name a line (the first mapping's empty).
std::string gatesOn(const ControllerStatus& status) {
    std::string names;
    for (const MappingStatus& mapping : status.mappings) {
        if (!mapping.continuous && mapping.on) {
            names += mapping.name + '\n';
        }
    }
    return names;
}

StatusLogState logState(const KestranoController& controller, uint64_t& messagesSeen) {
    const ControllerStatus& status = controller.status();
    StatusLogState state;
    if (const auto device = controller.selectedAudioDevice(); device && status.meter) {
        state.device = device->name;
    }
    for (const std::string* error : {&status.connection, &status.deviceError, &status.senderError,
                                     &status.listenerError, &status.pageNote}) {
        state.errors += *error + '\n';
    }
    for (const std::string& notice : status.settingsNotices) {
        state.errors += notice + '\n';
    }
    for (const std::string& note : status.captureNotes) {
        state.errors += note + '\n';
    }
    for (const std::string& note : status.sharedAddresses) {
        state.errors += note + '\n';
    }
    state.clipping = status.clipping;
    state.louderChannel = status.louderChannelBy.has_value();
    state.gatesOn = gatesOn(status);
    if (status.tempo) {
        state.tempo = std::string(status.tempo->bpm ? "found" : "none") +
                      (status.tempo->held ? " held" : "") + (status.tempo->tapped ? " tapped" : "");
    }
    state.tempo += status.tempoNote;
    if (status.droppedIncomingDatagrams > 0) {
        // The count changes at most once a second.
        state.errors += std::to_string(status.droppedIncomingDatagrams) + " dropped\n";
    }
    state.sending = status.messagesSent != messagesSeen;
    messagesSeen = status.messagesSent;
    return state;
}

// Calls `turned` when a mapping's gate turns, at most once per `spacing`: a cue shorter
// than the log's second reaches the log all the same, and one that flaps cannot flood it.
class GateTurnWatcher : public ControllerObserver {
  public:
    GateTurnWatcher(std::function<void()> turned, std::chrono::milliseconds spacing)
        : turned_(std::move(turned)), spacing_(spacing) {}

    void controllerPropertyChanged(ControllerProperty /*property*/) override {}
    void controllerSettingChanged(std::string_view /*key*/) override {}
    void controllerStatusChanged(const ControllerStatus& status) override {
        const auto now = std::chrono::steady_clock::now();
        std::string names = gatesOn(status);
        if (names == told_ || now - toldAt_ < spacing_) {
            return;  // a turn within the spacing is told at the next status after it
        }
        told_ = std::move(names);
        toldAt_ = now;
        turned_();
    }

  private:
    std::function<void()> turned_;
    std::chrono::milliseconds spacing_;
    std::string told_;
    std::chrono::steady_clock::time_point toldAt_{};
};

// Says on the log what a stalled or closed standard output cost `what` (its "monitor" or
// "status" lines), when it changed and the log takes it.
class OutputReport {
  public:
    OutputReport(const LineOutput& output, std::string what)
        : output_(output), what_(std::move(what)) {}

    void check() {
        if (output_.closed()) {
            if (!closeTold_) {
                closeTold_ = systemLog("kestrano: " + what_ + ": standard output is closed (" +
                                       output_.closedReason() + "); no more " + what_ +
                                       " lines are written");
            }
            return;
        }
        const uint64_t dropped = output_.droppedLines();
        if (dropped > droppedTold_ &&
            systemLog("kestrano: " + what_ + ": " + std::to_string(dropped) +
                      " lines not written so far: standard output does not keep up")) {
            droppedTold_ = dropped;
        }
    }

  private:
    const LineOutput& output_;
    const std::string what_;
    uint64_t droppedTold_ = 0;
    bool closeTold_ = false;
};

}  // namespace

int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture,
                const std::optional<std::string>& settingsFile, bool monitor) {
    // Armed first, so that a signal during start-up still ends in the orderly shut-down.
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings(settingsFile, mainLoop);
    KestranoController controller(mainLoop, settings.file(), makeCapture(mainLoop));
    controller.usePresetsBeside(settings.fileName());
    settings.file().setFailureHandler(
        [&controller](const std::string& failure) { controller.settingsNotWritten(failure); });
    controller.awakeFromNib();
    controller.addSettingsNotices(settings.notices());
    printSettingsNotices(controller.status().settingsNotices);
    SpectrumFeed spectra(controller.session());
    WebPage page(controller, spectra);

    // Standard output and standard error never hold up the program: a reader that stalls (a
    // terminal on hold, a pipe nobody reads) costs lines, which are counted and said on standard
    // error once a second, and one that left is said once.
    LineOutput standardOutput(STDOUT_FILENO);
    LineOutput& statusOutput = monitor ? standardErrorOutput() : standardOutput;
    OutputReport standardOutputReport(standardOutput, monitor ? "monitor" : "status");
    controller.monitor().setRecording(monitor);
    if (monitor) {
        controller.monitor().setEntryHandler([&standardOutput](const MonitorEntry& entry) {
            if (entry.leftOutBefore > 0) {
                standardOutput.writeLine(leftOutLine(entry.leftOutBefore));
            }
            standardOutput.writeLine(monitorLine(entry));
        });
    }
    QTimer reportTimer;
    QObject::connect(&reportTimer, &QTimer::timeout, [&] {
        standardOutputReport.check();
        tellDroppedLogLines();
    });
    reportTimer.start(outputReportInterval);

    const bool terminal = isatty(statusOutput.descriptor()) == 1;
    StatusLogThrottle throttle(logQuietInterval);
    uint64_t messagesSeen = 0;
    const auto writeLogLine = [&] {
        if (throttle.shouldWrite(logState(controller, messagesSeen),
                                 StatusLogThrottle::Clock::now())) {
            statusOutput.writeLine(statusLine(controller.status()));
        }
    };
    GateTurnWatcher turnWatcher(writeLogLine, logTurnSpacing);
    ObserverFanOut observers;
    if (!terminal) {
        observers.add(&turnWatcher);
    }
    observers.add(&page);
    controller.setObserver(&observers);
    QTimer statusTimer;
    QObject::connect(&statusTimer, &QTimer::timeout, [&] {
        if (terminal) {
            const std::string line = statusLine(controller.status());
            const std::string_view shown = fitTerminalRow(line, statusOutput.descriptor());
            statusOutput.writeRecord("\r" + std::string(shown) + "\033[K");
        } else {
            writeLogLine();
        }
    });
    statusTimer.start(terminal ? terminalStatusInterval : logStatusInterval);

    const int status = application.exec();
    controller.setObserver(nullptr);
    settings.finishWrites();
    if (terminal) {
        statusOutput.writeRecord("\n");
    }
    return status;
}
