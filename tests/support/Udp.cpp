#include "tests/support/Udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/Ports.h"

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
    return freePortBelowEphemeralRange(SOCK_DGRAM);
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
