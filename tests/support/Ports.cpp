#include "tests/support/Ports.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

int firstEphemeralPort() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int first = 0;
    if (!(range >> first) || first <= 10001) {
        first = 32768;
    }
    return first;
}

bool canBind(int socketType, uint16_t port) {
    const int fd = socket(AF_INET, socketType, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool bound =
        fd != -1 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd != -1) {
        close(fd);
    }
    return bound;
}

}  // namespace

uint16_t freePortBelowEphemeralRange(int socketType) {
    // Below the ephemeral range: a socket that some other test merely sends from is given an
    // ephemeral port by the system and could take ours between a close and the next bind.
    const int ephemeralStart = firstEphemeralPort();
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> candidates(10000, ephemeralStart - 1);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = static_cast<uint16_t>(candidates(random));
        if (canBind(socketType, port)) {
            return port;
        }
    }
    throw std::runtime_error("no free port below the ephemeral range for socket type " +
                             std::to_string(socketType));
}

bool waitForTcpListener(uint16_t port, std::chrono::milliseconds timeout) {
    // Read from the system's table rather than by connecting: liblo's oscdump, for one, may lose
    // the data of a connection that follows closely on an empty one.
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X ", port);
    const auto listening = [&](const char* table) {
        std::ifstream lines(table);
        std::string line;
        while (std::getline(lines, line)) {
            // "sl local_address rem_address st ...", where state 0A is LISTEN.
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            if (fields >> slot >> local >> remote >> state && state == "0A" &&
                (local + " ").ends_with(wanted)) {
                return true;
            }
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!listening("/proc/net/tcp") && !listening("/proc/net/tcp6")) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
