#include "app/WindowRunner.h"

#include "app/KestranoController.h"
#include "app/MainWindow.h"
#include "app/QSettingsPreferencesStore.h"
#include "app/QtMainLoop.h"
#include "app/SignalQuitter.h"

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
