// kestrano --headless with remote control on, its listen port flooded with /kestrano/get from one
// peer: how much comes back for what went in (the reply amplification), how many replies a second,
// and how many level messages a second the program kept sending meanwhile (20 is on time).
//
//   remote_flood_bench [KESTRANO] [SECONDS] [REQUESTS_PER_SECOND]   (default: the one built here,
//   5 and 1000); PULSE_SERVER names a server with the sinks of tests/audio.
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCMessage.h"
#include "tests/audio/HeadlessProgram.h"

using namespace std::chrono_literals;

namespace {

struct Counts {
    uint64_t requests = 0;
    uint64_t bytesIn = 0;
    uint64_t replies = 0;
    uint64_t bytesBack = 0;
    uint64_t levels = 0;
};

// Takes what waits on both sockets without waiting.
void collect(UdpReceiver& peer, UdpReceiver& zandorex, Counts& counts) {
    while (auto reply = peer.receive(0ms)) {
        ++counts.replies;
        counts.bytesBack += reply->size();
    }
    while (auto level = zandorex.receive(0ms)) {
        counts.levels += levelValue(*level) ? 1 : 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : KESTRANO_PATH;
    const auto duration = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 5);
    const int rate = argc > 3 ? std::atoi(argv[3]) : 1000;

    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    UdpReceiver peer;
    // Room for every answer between two looks, so that what is counted is what was sent.
    const int buffer = 16 << 20;
    if (setsockopt(peer.descriptor(), SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0) {
        setsockopt(peer.descriptor(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    const uint16_t listenPort = freeUdpPort();
    if (!storeLevelSettings(zandorex.port(), {}, listenPort, program) ||
        runProgram({program, "--set", "remoteControl=true"}).status != 0) {
        std::fprintf(stderr, "cannot store the settings\n");
        return 1;
    }
    ChildProcess run({program, "--headless"});
    if (!zandorex.receive(5s)) {
        std::fprintf(stderr, "kestrano sends no level\n%s", run.errorOutput().c_str());
        return 1;
    }

    const QVOSCData request =
        QVOSCMessage(QVOSCAddress::addressWithString("/kestrano/get")).packetizedData();
    Counts one;
    peer.sendTo(listenPort, request);
    std::this_thread::sleep_for(300ms);
    collect(peer, zandorex, one);
    std::printf("one /kestrano/get (%zu bytes): %llu replies, %llu bytes back\n", request.size(),
                static_cast<unsigned long long>(one.replies),
                static_cast<unsigned long long>(one.bytesBack));

    Counts flood;
    const auto start = std::chrono::steady_clock::now();
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / rate);
    auto next = start;
    while (std::chrono::steady_clock::now() - start < duration) {
        if (std::chrono::steady_clock::now() >= next) {
            peer.sendTo(listenPort, request);
            ++flood.requests;
            flood.bytesIn += request.size();
            next += interval;
        }
        collect(peer, zandorex, flood);
        std::this_thread::sleep_for(200us);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Answers still on their way.
    const uint64_t levelsDuring = flood.levels;
    std::this_thread::sleep_for(500ms);
    collect(peer, zandorex, flood);

    std::printf("flood of /kestrano/get: %llu requests in %.1f s (%.0f/s), %llu bytes in\n",
                static_cast<unsigned long long>(flood.requests), seconds,
                static_cast<double>(flood.requests) / seconds,
                static_cast<unsigned long long>(flood.bytesIn));
    std::printf("replies: %llu (%.0f/s), %llu bytes back (%.0f bytes/s)\n",
                static_cast<unsigned long long>(flood.replies),
                static_cast<double>(flood.replies) / seconds,
                static_cast<unsigned long long>(flood.bytesBack),
                static_cast<double>(flood.bytesBack) / seconds);
    std::printf("reply amplification (bytes back / bytes in): %.2f\n",
                static_cast<double>(flood.bytesBack) / static_cast<double>(flood.bytesIn));
    std::printf("level messages meanwhile: %.1f/s (20 is on time)\n",
                static_cast<double>(levelsDuring) / seconds);
    return 0;
}
