#include "app/run/HeadlessRunner.h"

#include <unistd.h>

#include <QTimer>
#include <cstdio>

#include "app/control/KestranoController.h"
#include "app/control/StatusText.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/settings/RunSettings.h"

namespace {

constexpr int terminalStatusInterval = 250;  // milliseconds
constexpr int logStatusInterval = 1000;

}  // namespace

int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture) {
    // Armed first, so that a signal during start-up still ends in the orderly shut-down.
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings;
    settings.printNotices();
    KestranoController controller(mainLoop, settings.store(), makeCapture(mainLoop));
    controller.awakeFromNib();
    controller.showSettingsNotices(settings.notices());

    const bool terminal = isatty(STDOUT_FILENO) == 1;
    QTimer statusTimer;
    QObject::connect(&statusTimer, &QTimer::timeout, [&controller, terminal] {
        const std::string line = statusLine(controller.status());
        if (terminal) {
            std::printf("\r%s\033[K", line.c_str());
        } else {
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    });
    statusTimer.start(terminal ? terminalStatusInterval : logStatusInterval);

    const int status = application.exec();
    if (terminal) {
        std::printf("\n");
    }
    return status;
}
