#include "app/run/HeadlessRunner.h"

#include <unistd.h>

#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "app/control/KestranoController.h"
#include "app/control/StatusText.h"
#include "transport/LineOutput.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/run/StatusLogThrottle.h"
#include "app/settings/RunSettings.h"

namespace {

constexpr int terminalStatusInterval = 250;  // milliseconds
constexpr int logStatusInterval = 1000;
constexpr auto logQuietInterval = std::chrono::minutes(1);
constexpr int monitorReportInterval = 1000;

StatusLogState logState(const KestranoController& controller, uint64_t& messagesSeen) {
    const ControllerStatus& status = controller.status();
    StatusLogState state;
    if (const auto device = controller.selectedAudioDevice(); device && status.meter) {
        state.device = device->name;
    }
    for (const std::string* error :
         {&status.connection, &status.deviceError, &status.senderError, &status.listenerError}) {
        state.errors += *error + '\n';
    }
    for (const std::string& notice : status.settingsNotices) {
        state.errors += notice + '\n';
    }
    for (const std::string& note : status.captureNotes) {
        state.errors += note + '\n';
    }
    state.clipping = status.clipping;
    state.louderChannel = status.louderChannelBy.has_value();
    if (status.droppedIncomingDatagrams > 0) {
        // The count changes at most once a second.
        state.errors += std::to_string(status.droppedIncomingDatagrams) + " dropped\n";
    }
    state.sending = status.messagesSent != messagesSeen;
    messagesSeen = status.messagesSent;
    return state;
}

}  // namespace

int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture,
                const std::optional<std::string>& settingsFile, bool monitor) {
    // Armed first, so that a signal during start-up still ends in the orderly shut-down.
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings(settingsFile);
    KestranoController controller(mainLoop, settings.file(), makeCapture(mainLoop));
    controller.awakeFromNib();
    controller.addSettingsNotices(settings.notices());
    printSettingsNotices(controller.status().settingsNotices);

    FILE* const statusStream = monitor ? stderr : stdout;
    controller.monitor().setRecording(monitor);
    // The monitor's lines never wait for standard output: a reader that stalls costs lines, said
    // once a second on standard error, and one that left is said once.
    std::unique_ptr<LineOutput> monitorOutput;
    QTimer monitorReportTimer;
    uint64_t droppedReported = 0;
    bool closeReported = false;
    if (monitor) {
        monitorOutput = std::make_unique<LineOutput>(fileno(stdout));
        controller.monitor().setEntryHandler([&output = *monitorOutput](const MonitorEntry& entry) {
            if (entry.leftOutBefore > 0) {
                output.writeLine(leftOutLine(entry.leftOutBefore));
            }
            output.writeLine(monitorLine(entry));
        });
        QObject::connect(&monitorReportTimer, &QTimer::timeout, [&] {
            const LineOutput& output = *monitorOutput;
            if (output.closed() && !closeReported) {
                closeReported = true;
                std::fprintf(stderr,
                             "\nkestrano: monitor: standard output is closed (%s); no more monitor "
                             "lines are written\n",
                             output.closedReason().c_str());
            }
            if (output.droppedLines() > droppedReported && !output.closed()) {
                droppedReported = output.droppedLines();
                std::fprintf(stderr,
                             "\nkestrano: monitor: %llu lines not written so far: standard output "
                             "does not keep up\n",
                             static_cast<unsigned long long>(droppedReported));
            }
        });
        monitorReportTimer.start(monitorReportInterval);
    }
    const bool terminal = isatty(fileno(statusStream)) == 1;
    StatusLogThrottle throttle(logQuietInterval);
    uint64_t messagesSeen = 0;
    QTimer statusTimer;
    QObject::connect(&statusTimer, &QTimer::timeout, [&] {
        const std::string line = statusLine(controller.status());
        if (terminal) {
            std::fprintf(statusStream, "\r%s\033[K", line.c_str());
        } else if (throttle.shouldWrite(logState(controller, messagesSeen),
                                        StatusLogThrottle::Clock::now())) {
            std::fprintf(statusStream, "%s\n", line.c_str());
        }
        std::fflush(statusStream);
    });
    statusTimer.start(terminal ? terminalStatusInterval : logStatusInterval);

    const int status = application.exec();
    if (terminal) {
        std::fprintf(statusStream, "\n");
    }
    return status;
}
