// Floods a UDP port on loopback from another thread and counts what arrives: once through
// QVOSCListener up to the main thread's delegate, once with a plain recvfrom loop. Prints the
// fraction of datagrams delivered by each and their ratio.
//
//   listener_flood_bench [DATAGRAMS] [ROUNDS]      (default 200000 and 9)
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "transport/EventLoop.h"
#include "transport/udp/QVOSCListener.h"

using namespace std::chrono_literals;

namespace {

// Silence this long after the flood ends means nothing more will come.
constexpr auto quietPeriod = 200ms;

struct Socket {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ~Socket() { close(fd); }
};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A level message as the program sends it: 24 bytes.
QVOSCData floodDatagram() {
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/zandorex/level"));
    message->attachArgument(QVOSCArgument::argumentWithFloat(0.5f));
    return message->packetizedData();
}

// Sends `count` datagrams to `port` as fast as the system takes them, on a thread of its own.
std::thread flood(uint16_t port, int count, std::atomic<bool>& done) {
    return std::thread([port, count, &done] {
        Socket sender;
        const QVOSCData datagram = floodDatagram();
        const sockaddr_in destination = loopback(port);
        for (int i = 0; i < count; ++i) {
            sendto(sender.fd, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
        }
        done = true;
    });
}

double plainLoopFraction(int count) {
    Socket receiver;
    const sockaddr_in address = loopback(0);
    bind(receiver.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    std::atomic<bool> floodDone = false;
    std::atomic<int> received = 0;
    // A blocking receive; the timeout only serves to notice the end of the flood.
    const timeval timeout{0, static_cast<suseconds_t>(quietPeriod.count() * 1000)};
    setsockopt(receiver.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    std::thread reader([&] {
        std::vector<uint8_t> buffer(65506);
        for (;;) {
            sockaddr_in source{};
            socklen_t sourceLength = sizeof(source);
            if (recvfrom(receiver.fd, buffer.data(), buffer.size(), 0,
                         reinterpret_cast<sockaddr*>(&source), &sourceLength) >= 0) {
                received.fetch_add(1, std::memory_order_relaxed);
            } else if (floodDone) {
                return;
            }
        }
    });
    std::this_thread::sleep_for(10ms);
    std::thread sender = flood(boundPort(receiver.fd), count, floodDone);
    sender.join();
    reader.join();
    return static_cast<double>(received) / count;
}

class CountingDelegate : public QVOSCDatagramDelegate {
  public:
    void dispatchRawPacket(std::shared_ptr<const QVOSCData>) override {
        ++count;
        lastArrival = std::chrono::steady_clock::now();
    }
    int count = 0;
    std::chrono::steady_clock::time_point lastArrival = std::chrono::steady_clock::now();
};

double listenerFraction(int count) {
    EventLoop loop;
    auto counter = std::make_shared<CountingDelegate>();
    auto listener = std::make_shared<QVOSCListener>(loop);
    listener->setDelegate(counter);
    if (!listener->startListeningOnPort(0)) {
        std::exit(1);
    }
    std::this_thread::sleep_for(10ms);
    std::atomic<bool> floodDone = false;
    std::thread sender = flood(boundPort(listener->socketDescriptor()), count, floodDone);
    // The timer wakes the loop so that the end of the flood is seen while nothing arrives.
    auto wakeUp = loop.scheduleRepeatingTimer(0.05, [] {});
    loop.runUntil(
        [&] {
            return floodDone &&
                   std::chrono::steady_clock::now() - counter->lastArrival > quietPeriod;
        },
        600s);
    sender.join();
    listener->stopListening();
    return static_cast<double>(counter->count) / count;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    std::printf("%d datagrams of %zu bytes per flood, default SO_RCVBUF, %d rounds\n", count,
                floodDatagram().size(), rounds);
    // Both receivers race the sender for the processors, so other load skews the figures.
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        char text[64] = {};
        if (std::fgets(text, sizeof(text), load)) {
            std::printf("load average at start: %s", text);
        }
        std::fclose(load);
    }
    std::vector<double> plain, listener;
    for (int round = 1; round <= rounds; ++round) {
        plain.push_back(plainLoopFraction(count));
        listener.push_back(listenerFraction(count));
        std::printf("round %d: plain recvfrom loop %.4f, QVOSCListener to main thread %.4f\n",
                    round, plain.back(), listener.back());
        std::fflush(stdout);
    }
    const double plainMedian = median(plain), listenerMedian = median(listener);
    std::printf("median delivered fraction: plain recvfrom loop %.4f, QVOSCListener %.4f\n",
                plainMedian, listenerMedian);
    std::printf("ratio QVOSCListener / plain loop: %.3f (target >= 0.95)\n",
                listenerMedian / plainMedian);
    return 0;
}
