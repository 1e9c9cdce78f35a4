#include "tests/support/Udp.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

int boundLoopbackSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd == -1 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == -1) {
        throw std::runtime_error("cannot bind a UDP socket on 127.0.0.1");
    }
    return fd;
}

}  // namespace

UdpReceiver::UdpReceiver() : socket_(boundLoopbackSocket()), port_(boundPort(socket_)) {}

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

bool sendDatagram(uint16_t port, QVOSCBytes bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool sent =
        sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
               sizeof(address)) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return sent;
}

uint16_t freeUdpPort() {
    const int fd = boundLoopbackSocket();
    const uint16_t port = boundPort(fd);
    close(fd);
    return port;
}

uint16_t boundPort(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        return 0;
    }
    return ntohs(address.sin_port);
}
