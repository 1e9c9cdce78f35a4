#include "app/run/HeadlessRunner.h"

#include <unistd.h>

#include <QTimer>
#include <cstdio>
#include <string>

#include "app/control/KestranoController.h"
#include "app/control/StatusText.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/run/StatusLogThrottle.h"
#include "app/settings/RunSettings.h"

namespace {

constexpr int terminalStatusInterval = 250;  // milliseconds
constexpr int logStatusInterval = 1000;
constexpr auto logQuietInterval = std::chrono::minutes(1);

StatusLogState logState(const KestranoController& controller, uint64_t& messagesSeen) {
    const ControllerStatus& status = controller.status();
    StatusLogState state;
    if (const auto device = controller.selectedAudioDevice(); device && status.meter) {
        state.device = device->name;
    }
    for (const std::string* error :
         {&status.deviceError, &status.senderError, &status.listenerError}) {
        state.errors += *error + '\n';
    }
    for (const std::string& notice : status.settingsNotices) {
        state.errors += notice + '\n';
    }
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
    if (monitor) {
        controller.monitor().setEntryHandler([](const MonitorEntry& entry) {
            if (entry.leftOutBefore > 0) {
                std::printf("%s\n", leftOutLine(entry.leftOutBefore).c_str());
            }
            std::printf("%s\n", monitorLine(entry).c_str());
            std::fflush(stdout);
        });
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
