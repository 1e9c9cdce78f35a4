#include "app/window/WindowRunner.h"

#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/settings/RunSettings.h"
#include "app/window/MainWindow.h"

int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture) {
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings;
    settings.printNotices();
    KestranoController controller(mainLoop, settings.store(), makeCapture(mainLoop));
    MainWindow window(controller);
    controller.awakeFromNib();
    controller.showSettingsNotices(settings.notices());
    window.show();
    return application.exec();
}
