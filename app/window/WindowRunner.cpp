#include "app/window/WindowRunner.h"

#include <QFileInfo>

#include "app/control/KestranoController.h"
#include "app/control/ObserverFanOut.h"
#include "app/run/QtMainLoop.h"
#include "app/run/SignalQuitter.h"
#include "app/settings/store/RunSettings.h"
#include "app/web/WebPage.h"
#include "app/window/MainWindow.h"

int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture,
              const std::optional<std::string>& settingsFile) {
    SignalQuitter quitter([&application] { application.quit(); });

    QtMainLoop mainLoop;
    RunSettings settings(settingsFile, mainLoop);
    KestranoController controller(mainLoop, settings.file(), makeCapture(mainLoop));
    controller.usePresetsBeside(settings.fileName());
    settings.file().setFailureHandler(
        [&controller](const std::string& failure) { controller.settingsNotWritten(failure); });
    // The window and the browser page show one spectrum, worked out once for both.
    SpectrumFeed spectra(controller.session());
    MainWindow window(controller, &spectra);
    if (settingsFile) {
        // Two instances side by side: the title tells them apart.
        window.setWindowTitle(
            QStringLiteral("Kestrano — %1").arg(QFileInfo(settings.fileName()).absoluteFilePath()));
    }
    controller.awakeFromNib();
    controller.addSettingsNotices(settings.notices());
    printSettingsNotices(controller.status().settingsNotices);
    WebPage page(controller, spectra);
    // The window lets go of the controller when it goes, which ends the page's updates too.
    ObserverFanOut observers;
    observers.add(&window);
    observers.add(&page);
    controller.setObserver(&observers);
    window.show();
    const int status = application.exec();
    controller.setObserver(nullptr);
    settings.finishWrites();
    return status;
}
