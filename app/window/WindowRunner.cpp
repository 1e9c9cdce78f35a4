#include "app/window/WindowRunner.h"

#include <QFileInfo>

#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/settings/store/RunSettings.h"
#include "app/window/MainWindow.h"

int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture,
              const std::optional<std::string>& settingsFile) {
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings(settingsFile);
    KestranoController controller(mainLoop, settings.file(), makeCapture(mainLoop));
    controller.usePresetsBeside(settings.file().fileName());
    MainWindow window(controller);
    if (settingsFile) {
        // Two instances side by side: the title tells them apart.
        window.setWindowTitle(QStringLiteral("Kestrano — %1")
                                  .arg(QFileInfo(settings.file().fileName()).absoluteFilePath()));
    }
    controller.awakeFromNib();
    controller.addSettingsNotices(settings.notices());
    printSettingsNotices(controller.status().settingsNotices);
    window.show();
    return application.exec();
}
