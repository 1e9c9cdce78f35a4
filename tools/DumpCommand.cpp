#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "tools/PacketText.h"
#include "tools/TcpDump.h"
#include "transport/EventLoop.h"
#include "transport/udp/QVOSCListener.h"

namespace {

constexpr const char* dumpUsage =
    "Usage: kestrano-osc dump [--tcp] PORT\n"
    "Listens for OSC on UDP PORT (0-65535; 0 picks a free port) on every local IPv4 address\n"
    "and prints each packet received, until interrupted (Ctrl-C or SIGTERM). The port is\n"
    "reported on standard error once listening.\n"
    "  --tcp  listen on TCP PORT instead, for up to 64 connections at a time. Each\n"
    "         connection's framing is found from its first byte: 0xC0 means SLIP (OSC 1.1),\n"
    "         anything else a big-endian 32-bit length before each packet (OSC 1.0).\n"
    "         Connections that come and go are reported on standard error.\n"
    "Exit status: 0 interrupted, 1 cannot listen or write, 2 bad arguments.\n";

// Prints each datagram as its packet's text; ends the loop when standard output fails.
class PacketPrinter : public QVOSCDatagramDelegate {
  public:
    explicit PacketPrinter(EventLoop& loop) : loop_(loop) {}

    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override {
        if (!writeLine(packetText(*data, "datagram"))) {
            outputFailed = true;
            loop_.quit();
        }
    }

    bool outputFailed = false;

  private:
    EventLoop& loop_;
};

int boundPort(int socketDescriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(socketDescriptor, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        return -1;
    }
    return ntohs(address.sin_port);
}

}  // namespace

int runDump(std::span<char* const> arguments) {
    constexpr std::string_view command = "dump";
    if (asksForHelp(arguments)) {
        std::fputs(dumpUsage, stdout);
        return 0;
    }
    const bool overTcp = !arguments.empty() && std::string_view(arguments[0]) == "--tcp";
    if (overTcp) {
        arguments = arguments.subspan(1);
    }
    if (arguments.size() != 1) {
        return usageError(command, "dump needs exactly one PORT");
    }
    const auto port = parsePort(arguments[0], 0);
    if (!port) {
        return usageError(command, "PORT must be a number from 0 to 65535");
    }

    // The signals are taken by a thread of their own, since a handler may not touch the loop.
    // They are blocked before any thread starts, so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write instead
    if (overTcp) {
        return dumpTcp(*port, stopSignals);
    }

    EventLoop loop;
    auto printer = std::make_shared<PacketPrinter>(loop);
    auto listener = std::make_shared<QVOSCListener>(loop);
    listener->setDelegate(printer);
    if (!listener->startListeningOnPort(*port)) {
        return 1;  // the listener has said why on standard error
    }
    std::fprintf(stderr, "kestrano-osc: listening on UDP port %d\n",
                 boundPort(listener->socketDescriptor()));

    std::atomic<bool> signalTaken = false;
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        signalTaken = true;
        loop.quit();
    });
    loop.run();
    if (!signalTaken) {
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    }
    signalWaiter.join();
    listener->stopListening();
    return printer->outputFailed ? 1 : 0;
}
