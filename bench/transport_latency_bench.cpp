// Loopback latency of one small message, from the send call on the main loop until a receiving
// thread has the whole packet: over UDP (QVOSCSender) and over TCP (TcpConnection) in both
// framings, one after another in the same run. Prints the median, 90th and 99th percentile and
// the largest, in microseconds.
//
//   transport_latency_bench [MESSAGES]      (default 2000 per transport)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"
#include "transport/tcp/StreamFraming.h"
#include "transport/tcp/TcpConnection.h"
#include "transport/udp/QVOSCSender.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A level message as the program sends it: 24 bytes.
QVOSCData levelMessage() {
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/zandorex/level"));
    message->attachArgument(QVOSCArgument::argumentWithFloat(0.5f));
    return message->packetizedData();
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// The receiving side: a thread that notes the time each whole packet arrives and wakes the
// main loop, which waits for it before sending the next.
class Receiver {
  public:
    explicit Receiver(EventLoop& loop) : loop_(loop) {}
    ~Receiver() { join(); }

    void join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // Runs `receiveAll` on the thread; it calls arrived() once per packet.
    void start(std::function<void()> receiveAll) { thread_ = std::thread(std::move(receiveAll)); }

    void arrived() {
        arrivals_.push_back(Clock::now());
        count_.store(arrivals_.size(), std::memory_order_release);
        loop_.postToMainThread([] {});
    }

    size_t count() const { return count_.load(std::memory_order_acquire); }
    // Read once count() has reached the index wanted.
    Clock::time_point arrival(size_t index) const { return arrivals_[index]; }
    void reserve(size_t count) { arrivals_.reserve(count); }

  private:
    EventLoop& loop_;
    std::thread thread_;
    std::vector<Clock::time_point> arrivals_;
    std::atomic<size_t> count_{0};
};

// Sends `count` messages one at a time with `send` and returns each one's latency.
std::vector<double> measure(EventLoop& loop, Receiver& receiver, size_t count,
                            const std::function<void()>& send) {
    std::vector<double> microseconds;
    for (size_t i = 0; i < count; ++i) {
        const auto sent = Clock::now();
        send();
        if (!loop.runUntil([&] { return receiver.count() > i; }, 2s)) {
            std::fprintf(stderr, "message %zu did not arrive\n", i);
            break;
        }
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(receiver.arrival(i) - sent).count());
    }
    return microseconds;
}

void print(const char* name, std::vector<double> microseconds) {
    if (microseconds.empty()) {
        std::printf("%-22s no messages arrived\n", name);
        return;
    }
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double fraction) {
        return microseconds[static_cast<size_t>(fraction *
                                                static_cast<double>(microseconds.size() - 1))];
    };
    std::printf("%-22s %8zu %10.1f %10.1f %10.1f %10.1f\n", name, microseconds.size(), at(0.5),
                at(0.9), at(0.99), microseconds.back());
}

std::vector<double> overUdp(size_t count) {
    EventLoop loop;
    Receiver receiver(loop);
    receiver.reserve(count);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const auto destination = numericEndpoint("127.0.0.1", boundPort(fd));
    auto sender = QVOSCSender::senderWithDestinationEndpoint(*destination, loop);
    receiver.start([&] {
        uint8_t buffer[2048];
        for (size_t i = 0; i < count && recv(fd, buffer, sizeof buffer, 0) > 0; ++i) {
            receiver.arrived();
        }
    });
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/zandorex/level"));
    message->attachArgument(QVOSCArgument::argumentWithFloat(0.5f));
    auto latencies = measure(loop, receiver, count, [&] { sender->sendOSCPacket(*message); });
    shutdown(fd, SHUT_RD);
    receiver.join();
    close(fd);
    return latencies;
}

std::vector<double> overTcp(size_t count, StreamFraming framing) {
    EventLoop loop;
    Receiver receiver(loop);
    receiver.reserve(count);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    receiver.start([&] {
        const int connection = accept(listener, nullptr, nullptr);
        StreamDeframer deframer(framing);
        uint8_t buffer[16384];
        for (ssize_t received; receiver.count() < count &&
                               (received = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
            deframer.feed(QVOSCBytes(buffer, static_cast<size_t>(received)),
                          [&](QVOSCBytes) { receiver.arrived(); });
        }
        close(connection);
    });
    auto connection = TcpConnection::connectionToEndpoint(
        *numericEndpoint("127.0.0.1", boundPort(listener)), framing, loop, nullptr);
    if (!loop.runUntil([&] { return connection->isConnected(); }, 5s)) {
        std::fprintf(stderr, "no connection: %s\n", connection->status().c_str());
        std::exit(1);
    }
    const QVOSCData level = levelMessage();
    auto latencies = measure(loop, receiver, count, [&] {
        connection->sendBytes(level, TcpConnection::Kind::continuous);
    });
    connection.reset();
    receiver.join();
    close(listener);
    return latencies;
}

}  // namespace

int main(int argc, char* argv[]) {
    const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
    std::printf(
        "one 24-byte message on loopback, send call to whole packet on the receiving "
        "thread (us)\n");
    std::printf("%-22s %8s %10s %10s %10s %10s\n", "transport", "messages", "median", "p90", "p99",
                "max");
    print("UDP", overUdp(count));
    print("TCP, SLIP", overTcp(count, StreamFraming::slip));
    print("TCP, length-prefixed", overTcp(count, StreamFraming::lengthPrefix));
    return 0;
}
