// How late the controller's 20 Hz tick runs while the destination's name is being looked up
// from a name server that never answers, against the stall a lookup on the main thread would
// cause. Run through bench/host_resolution_tick.sh, which points the resolver at the silent name
// server that this program opens on 127.0.0.53.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/store/QSettingsPreferencesStore.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when each tick told it about the status.
class TickClock : public ControllerObserver {
  public:
    void controllerPropertyChanged(ControllerProperty) override {}
    void controllerSettingChanged(std::string_view) override {}
    void controllerStatusChanged(const ControllerStatus&) override {
        ticks.push_back(Clock::now());
    }
    std::vector<Clock::time_point> ticks;
};

void printIntervals(const char* label, const std::vector<Clock::time_point>& ticks) {
    std::vector<double> gaps;
    for (size_t index = 1; index < ticks.size(); ++index) {
        gaps.push_back(
            std::chrono::duration<double, std::milli>(ticks[index] - ticks[index - 1]).count());
    }
    if (gaps.empty()) {
        std::printf("%s: no ticks\n", label);
        return;
    }
    std::sort(gaps.begin(), gaps.end());
    std::printf("%s: %zu tick intervals, median %.1f ms, 99th %.1f ms, max %.1f ms\n", label,
                gaps.size(), gaps[gaps.size() / 2], gaps[gaps.size() * 99 / 100], gaps.back());
}

// A name server that takes questions and never answers.
int silentNameServer() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    inet_pton(AF_INET, "127.0.0.53", &address.sin_addr);
    if (fd == -1 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == -1) {
        std::perror("bind 127.0.0.53:53");
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    const int nameServer = silentNameServer();
    if (nameServer == -1) {
        return 1;
    }
    QCoreApplication application(argc, argv);
    QtMainLoop mainLoop;
    QSettingsPreferencesStore preferences;
    KestranoController controller(mainLoop, preferences, makeSystemAudioCapture(mainLoop));
    TickClock clock;
    controller.setObserver(&clock);
    controller.awakeFromNib();

    constexpr int measuredMilliseconds = 4000;
    const auto lookupStarted = Clock::now();
    controller.settings().changeFromText(settings_keys::zandorexHost,
                                         "zandorex.slow-name-server.example");
    clock.ticks.clear();
    QTimer::singleShot(measuredMilliseconds, &application, &QCoreApplication::quit);
    application.exec();
    std::printf("status after %d ms: %s\n", measuredMilliseconds,
                controller.status().senderError.c_str());
    printIntervals("ticks while the name is looked up off the main thread", clock.ticks);

    // The same lookup on the main thread, as a sender made at once would do it.
    clock.ticks.clear();
    QTimer::singleShot(500, [] {
        const auto start = Clock::now();
        gethostbyname("zandorex.slow-name-server.example");
        std::printf("a lookup on the main thread held it for %.0f ms\n",
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    });
    QTimer::singleShot(500 + measuredMilliseconds, &application, &QCoreApplication::quit);
    application.exec();
    printIntervals("ticks with the lookup on the main thread", clock.ticks);
    std::printf("(measured over %.1f s)\n",
                std::chrono::duration<double>(Clock::now() - lookupStarted).count());
    controller.setObserver(nullptr);
    close(nameServer);
    return 0;
}
