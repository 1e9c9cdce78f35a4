#include "tests/app/support/AppTestEnvironment.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "tests/support/TempDir.h"

void prepareAppTestEnvironment() {
    static const auto configHome = std::make_unique<TempDir>();
    setenv("XDG_CONFIG_HOME", configHome->path().c_str(), 1);
    unsetenv("PULSE_SERVER");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void clearStoredSettings() {
    QSettings settings("Kestrano", "Kestrano");
    settings.clear();
    settings.sync();
}

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Wakes the waiting loop now and then, so that the deadline is seen without spinning.
    QTimer wake;
    wake.start(5);
    // One pass at least, however late this thread is scheduled: what was posted before the call
    // is handled even when the deadline has gone by before the loop is first looked at.
    bool passed = false;
    while (!done() && (!passed || std::chrono::steady_clock::now() < deadline)) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        passed = true;
    }
    return done();
}

void processEventsFor(std::chrono::milliseconds duration) {
    processEventsUntil([] { return false; }, duration);
}
