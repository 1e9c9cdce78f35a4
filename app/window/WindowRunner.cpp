#include "app/window/WindowRunner.h"

#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/settings/QSettingsPreferencesStore.h"
#include "app/window/MainWindow.h"

int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture) {
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    QSettingsPreferencesStore preferences;
    KestranoController controller(mainLoop, preferences, makeCapture(mainLoop));
    MainWindow window(controller);
    controller.awakeFromNib();
    window.show();
    return application.exec();
}
