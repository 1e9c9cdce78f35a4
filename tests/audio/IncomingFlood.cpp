#include "tests/audio/IncomingFlood.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <thread>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

void appendWord(QVOSCData& data, uint32_t word) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        data.push_back(static_cast<uint8_t>(word >> shift));
    }
}

// "#bundle", time tag 1 (immediately), then each element with its size.
QVOSCData bundleOf(const std::vector<QVOSCData>& elements) {
    QVOSCData bundle{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
    appendWord(bundle, 0);
    appendWord(bundle, 1);
    for (const QVOSCData& element : elements) {
        appendWord(bundle, static_cast<uint32_t>(element.size()));
        bundle.insert(bundle.end(), element.begin(), element.end());
    }
    return bundle;
}

QVOSCData levelMessage() {
    static constexpr char bytes[] = "/zandorex/level\0,f\0\0\x3f\x00\x00";  // and the final zero
    return QVOSCData(bytes, bytes + 24);
}

QVOSCData nestedBundles(int depth) {
    QVOSCData bundle = bundleOf({});
    for (int level = 1; level < depth; ++level) {
        bundle = bundleOf({bundle});
    }
    return bundle;
}

QVOSCData bundleOfEmptyMessages(size_t limit) {
    const QVOSCData message{'/', 'a', 0, 0, ',', 0, 0, 0};
    const size_t count = (limit - 16) / (4 + message.size());
    return bundleOf(std::vector<QVOSCData>(count, message));
}

std::vector<QVOSCData> randomDatagrams(size_t size, int count) {
    std::mt19937 random(8);
    std::vector<QVOSCData> datagrams(static_cast<size_t>(count), QVOSCData(size));
    for (QVOSCData& datagram : datagrams) {
        std::generate(datagram.begin(), datagram.end(), [&] { return random() & 0xFF; });
    }
    return datagrams;
}

double residentMB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0.0;
}

// The program's count, which its status line gives once a second.
std::optional<uint64_t> lastDroppedCount(const std::string& output) {
    constexpr std::string_view before = "dropped ";
    const size_t at = output.rfind(" incoming datagrams");
    const size_t start = at == std::string::npos ? at : output.rfind(before, at);
    if (start == std::string::npos) {
        return std::nullopt;
    }
    const std::string digits = output.substr(start + before.size(), at - start - before.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(digits);
}

// Sends the datagrams in turn to 127.0.0.1:`port` until `stop`; how many the system took.
uint64_t sendUntil(uint16_t port, const std::vector<QVOSCData>& datagrams,
                   const std::atomic<bool>& stop) {
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint64_t sent = 0;
    for (size_t next = 0; !stop.load(std::memory_order_relaxed);
         next = (next + 1) % datagrams.size()) {
        const QVOSCData& datagram = datagrams[next];
        if (sendto(sender, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != -1) {
            ++sent;
        }
    }
    close(sender);
    return sent;
}

}  // namespace

std::vector<FloodKind> floodKinds() {
    return {
        {"24-byte level messages", {levelMessage()}},
        {"6 KB of 300 nested bundles", {nestedBundles(300)}},
        {"8 KiB random bytes", randomDatagrams(8192, 64)},
        {"65507 zero bytes", {QVOSCData(65507)}},
        {"8 KiB bundle of 680 empty messages", {bundleOfEmptyMessages(8192)}},
    };
}

FloodFigures floodProgram(HeadlessLevelRun& run, HeadlessLevelRun& control, const FloodKind& kind,
                          std::chrono::milliseconds duration, std::chrono::milliseconds after) {
    FloodFigures figures;
    run.program.readUntil([] { return false; }, 10ms);
    control.program.readUntil([] { return false; }, 10ms);
    const uint64_t droppedBefore = lastDroppedCount(run.program.output()).value_or(0);
    const pid_t pid = run.program.pid();
    figures.rssBeforeMB = figures.rssPeakMB = residentMB(pid);
    // What waited in the sockets was sent before the windows open.
    while (run.zandorex.receive(0ms) || control.zandorex.receive(0ms)) {
    }

    std::atomic<bool> stop = false;
    std::atomic<uint64_t> sent = 0;
    const auto start = Clock::now();
    const auto floodEnd = start + duration;
    const auto end = floodEnd + after;
    std::thread flood([&] { sent = sendUntil(run.listenPort, kind.datagrams, stop); });
    int levelsDuring = 0;
    int levelsAfter = 0;
    int controlDuring = 0;
    int controlAfter = 0;
    auto lastLevel = start;
    for (auto now = start; now < end; now = Clock::now()) {
        if (now >= floodEnd && !stop) {
            stop = true;
            flood.join();
        }
        // Both programs' messages are read by the same loop and placed in the same windows, so
        // that a pause of this thread delays both alike.
        std::array<pollfd, 2> watched{
            {{run.zandorex.descriptor(), POLLIN, 0}, {control.zandorex.descriptor(), POLLIN, 0}}};
        if (poll(watched.data(), watched.size(), 20) > 0) {
            const auto arrival = Clock::now();
            const bool during = arrival < floodEnd;
            if ((watched[0].revents & POLLIN) != 0) {
                const auto datagram = run.zandorex.receive(0ms);
                if (datagram && levelValue(*datagram)) {
                    ++(during ? levelsDuring : levelsAfter);
                    figures.longestGapMs = std::max(
                        figures.longestGapMs,
                        std::chrono::duration<double, std::milli>(arrival - lastLevel).count());
                    lastLevel = arrival;
                }
            }
            if ((watched[1].revents & POLLIN) != 0) {
                const auto datagram = control.zandorex.receive(0ms);
                if (datagram && levelValue(*datagram)) {
                    ++(during ? controlDuring : controlAfter);
                }
            }
        }
        figures.rssPeakMB = std::max(figures.rssPeakMB, residentMB(pid));
    }
    if (!stop) {
        stop = true;
        flood.join();
    }
    figures.rssAfterMB = residentMB(pid);
    figures.sent = sent;
    const double during = std::chrono::duration<double>(duration).count();
    const double afterwards = std::chrono::duration<double>(after).count();
    figures.levelsPerSecondDuring = levelsDuring / during;
    figures.levelsPerSecondAfter = levelsAfter / afterwards;
    figures.controlLevelsPerSecondDuring = controlDuring / during;
    figures.controlLevelsPerSecondAfter = controlAfter / afterwards;
    run.program.readUntil([] { return false; }, 10ms);
    control.program.readUntil([] { return false; }, 10ms);
    figures.dropped = lastDroppedCount(run.program.output()).value_or(0) - droppedBefore;
    return figures;
}
