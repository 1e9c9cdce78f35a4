#include "tests/audio/ServerRecovery.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "tests/audio/PulseTestSupport.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

ControllerStandIn::ControllerStandIn(AudioCapture& capture) : capture(capture) {
    capture.setDevicesChangedHandler([this] {
        ++devicesChanges;
        const auto input = this->capture.currentInput();
        const auto devices = this->capture.audioInputDevices();
        if (input && std::find(devices.begin(), devices.end(), *input) == devices.end()) {
            this->capture.removeInput();
        }
        std::string error;
        if (!this->capture.currentInput() && rememberedIsPresent()) {
            this->capture.addInput(*remembered, error);
        }
    });
    capture.setServerReconnectedHandler([this] {
        ++reconnections;
        const auto device =
            rememberedIsPresent() ? remembered : this->capture.defaultAudioInputDevice();
        std::string error;
        this->capture.removeInput();
        if (device) {
            this->capture.addInput(*device, error);
        }
    });
}

bool ControllerStandIn::rememberedIsPresent() const {
    const auto devices = capture.audioInputDevices();
    return remembered && std::find(devices.begin(), devices.end(), *remembered) != devices.end();
}

namespace {

// Whether the unix socket at `path` takes a connection now.
bool accepts(const std::string& path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof(address.sun_path) - 1);
    const bool connected =
        probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (probe >= 0) {
        close(probe);
    }
    return connected;
}

// Whether the float samples in `bytes` from `scanned` on hold one above `threshold` (0.1: -20
// dBFS); moves `scanned` past the whole samples looked at.
bool holdsSampleAbove(const std::string& bytes, std::size_t& scanned, float threshold) {
    for (; scanned + sizeof(float) <= bytes.size(); scanned += sizeof(float)) {
        float sample = 0.0f;
        std::memcpy(&sample, bytes.data() + scanned, sizeof(float));
        if (std::fabs(sample) >= threshold) {
            return true;
        }
    }
    return false;
}

std::chrono::milliseconds since(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from);
}

}  // namespace

std::optional<Recovery> measureRecovery(EventLoop& loop, AudioCapture& capture,
                                        const std::string& source,
                                        const std::function<bool()>& start,
                                        std::chrono::milliseconds timeout, AwaitedLevel awaited) {
    const bool anyLevel = awaited == AwaitedLevel::any;
    const std::string server = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
    const std::string socketPath = server.rfind("unix:", 0) == 0 ? server.substr(5) : server;
    struct Times {
        std::atomic<bool> started{false};
        std::atomic<bool> startFailed{false};
        std::atomic<bool> stopWatching{false};
        std::atomic<Clock::rep> accepted{0};
        std::atomic<Clock::rep> loud{0};
        std::atomic<Clock::rep> peerLoud{0};
    };
    const auto times = std::make_shared<Times>();
    capture.setFragmentLevelHandler([times, anyLevel](std::size_t, float averagePower, float) {
        Clock::rep none = 0;
        if (anyLevel || averagePower > -40.0f) {
            times->loud.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        }
    });
    std::thread watcher([times, socketPath] {
        while (!times->stopWatching && !accepts(socketPath)) {
            std::this_thread::sleep_for(1ms);
        }
        times->accepted = Clock::now().time_since_epoch().count();
    });
    std::thread starter([times, &start] {
        const bool ok = start();
        times->startFailed = !ok;
        times->started = true;
    });
    std::optional<Recovery> recovery;
    if (runLoopUntil(
            loop, [&] { return times->started.load(); }, timeout) &&
        !times->startFailed) {
        const auto ready = Clock::now();
        std::thread peer([times, source, timeout, anyLevel] {
            ChildProcess parec({"/usr/bin/parec", "-d", source, "--format=float32le",
                                "--rate=48000", "--channels=2", "--latency-msec=5"});
            std::size_t scanned = 0;
            const float threshold = anyLevel ? 0.0f : 0.1f;
            if (parec.readUntil(
                    [&] { return holdsSampleAbove(parec.output(), scanned, threshold); },
                    timeout)) {
                times->peerLoud = Clock::now().time_since_epoch().count();
            }
        });
        SineTone tone("feed");
        if (tone.started() && runLoopUntil(
                                  loop, [&] { return times->loud != 0; }, timeout)) {
            const Clock::time_point loud{Clock::duration(times->loud.load())};
            const Clock::time_point accepted{Clock::duration(times->accepted.load())};
            recovery = Recovery{since(accepted, loud), since(ready, loud), std::nullopt};
        }
        peer.join();
        if (recovery && times->peerLoud != 0) {
            recovery->peerSinceReady =
                since(ready, Clock::time_point{Clock::duration(times->peerLoud.load())});
        }
    }
    times->stopWatching = true;
    watcher.join();
    runLoopUntil(
        loop, [&] { return times->started.load(); }, 10s);
    starter.join();
    capture.setFragmentLevelHandler({});
    return recovery;
}
