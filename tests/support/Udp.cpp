#include "tests/support/Udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <random>
#include <stdexcept>

namespace {

// A UDP socket bound to `host` (network byte order) on `port`, or -1 with errno set.
int socketBoundTo(in_addr_t host, uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = host;
    if (fd != -1 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == -1) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int boundLoopbackSocket(const std::string& localAddress) {
    int fd = -1;
    in_addr ipv4{};
    in6_addr ipv6{};
    if (inet_pton(AF_INET, localAddress.c_str(), &ipv4) == 1) {
        fd = socketBoundTo(ipv4.s_addr, 0);
    } else if (inet_pton(AF_INET6, localAddress.c_str(), &ipv6) == 1) {
        fd = socket(AF_INET6, SOCK_DGRAM, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = ipv6;
        if (fd != -1 &&
            bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == -1) {
            close(fd);
            fd = -1;
        }
    }
    if (fd == -1) {
        throw std::runtime_error("cannot bind a UDP socket on " + localAddress);
    }
    return fd;
}

sockaddr_in loopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int firstEphemeralPort() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int first = 0;
    if (!(range >> first) || first <= 10001) {
        first = 32768;
    }
    return first;
}

}  // namespace

UdpReceiver::UdpReceiver(const std::string& localAddress)
    : socket_(boundLoopbackSocket(localAddress)), port_(boundPort(socket_)) {}

UdpReceiver::~UdpReceiver() {
    close(socket_);
}

std::optional<QVOSCData> UdpReceiver::receive(std::chrono::milliseconds timeout) {
    pollfd watched{socket_, POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(timeout.count())) != 1) {
        return std::nullopt;
    }
    QVOSCData buffer(65536);
    const ssize_t received = recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (received < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

bool UdpReceiver::sendTo(uint16_t port, QVOSCBytes bytes) {
    const sockaddr_in address = loopbackAddress(port);
    return sendto(socket_, bytes.data(), bytes.size(), 0,
                  reinterpret_cast<const sockaddr*>(&address),
                  sizeof(address)) == static_cast<ssize_t>(bytes.size());
}

bool sendDatagram(uint16_t port, QVOSCBytes bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in address = loopbackAddress(port);
    const bool sent =
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
               sizeof(address)) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return sent;
}

uint16_t freeUdpPort() {
    // Below the ephemeral range: a socket that some other test merely sends from is given an
    // ephemeral port by the system and could take ours between a close and the next bind.
    const int ephemeralStart = firstEphemeralPort();
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> candidates(10000, ephemeralStart - 1);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = static_cast<uint16_t>(candidates(random));
        if (const int fd = wildcardSocketOn(port); fd != -1) {
            close(fd);
            return port;
        }
    }
    throw std::runtime_error("no free UDP port below the ephemeral range");
}

int wildcardSocketOn(uint16_t port) {
    return socketBoundTo(htonl(INADDR_ANY), port);
}

uint16_t boundPort(int socket) {
    // The port stands at the same place in IPv4 and IPv6 addresses.
    sockaddr_in6 address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        return 0;
    }
    return ntohs(address.sin6_port);
}
