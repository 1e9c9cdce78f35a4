#include "tools/TcpDump.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/CommandLine.h"
#include "tools/PacketText.h"
#include "transport/NetworkEndpointText.h"
#include "transport/tcp/StreamFraming.h"

namespace {

// Connections beyond this are closed at once, so that a flood of them costs nothing.
constexpr size_t maximumConnections = 64;

struct Connection {
    int socket = -1;
    std::string peer;
    StreamDeframer deframer{std::nullopt};
};

void note(const std::string& text) {
    std::fprintf(stderr, "kestrano-osc: %s\n", text.c_str());
}

int listeningSocket(int32_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        std::perror("socket");
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == -1) {
        std::perror("bind");
        close(fd);
        return -1;
    }
    if (listen(fd, 16) == -1) {
        std::perror("listen");
        close(fd);
        return -1;
    }
    return fd;
}

// Takes a waiting connection, or closes it when there are too many already.
void accept(int listener, std::vector<Connection>& connections) {
    NetworkEndpoint peer;
    peer.length = sizeof peer.address;
    const int fd =
        accept4(listener, reinterpret_cast<sockaddr*>(&peer.address), &peer.length, SOCK_CLOEXEC);
    if (fd == -1) {
        return;
    }
    if (connections.size() >= maximumConnections) {
        note("connection from " + endpointText(peer) + " refused: too many connections");
        close(fd);
        return;
    }
    connections.push_back({fd, endpointText(peer)});
    note("connection from " + connections.back().peer);
}

// Reads what one connection has and prints its packets; false once it is to be closed: ended,
// badly framed, or standard output failed (then `outputFailed` is set).
bool readFrom(Connection& connection, bool& outputFailed) {
    uint8_t buffer[16384];
    const ssize_t received = recv(connection.socket, buffer, sizeof buffer, 0);
    if (received == -1 && errno == EINTR) {
        return true;
    }
    if (received <= 0) {
        const bool cut = received == 0 && connection.deframer.holdsPartialPacket();
        note("connection from " + connection.peer + " closed" +
             (cut ? " in the middle of a packet" : ""));
        return false;
    }
    const bool framedWell = connection.deframer.feed(
        QVOSCBytes(buffer, static_cast<size_t>(received)), [&](QVOSCBytes packet) {
            if (!outputFailed && !writeLine(packetText(packet, "packet"))) {
                outputFailed = true;
            }
        });
    if (!framedWell) {
        note("connection from " + connection.peer + " closed: " + connection.deframer.failure());
    }
    return framedWell && !outputFailed;
}

int boundPort(int socketDescriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(socketDescriptor, reinterpret_cast<sockaddr*>(&address), &length) == -1) {
        return -1;
    }
    return ntohs(address.sin_port);
}

}  // namespace

int dumpTcp(int32_t port, const sigset_t& stopSignals) {
    const int listener = listeningSocket(port);
    if (listener == -1) {
        return 1;
    }
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals == -1) {
        std::perror("signalfd");
        close(listener);
        return 1;
    }
    std::fprintf(stderr, "kestrano-osc: listening on TCP port %d\n", boundPort(listener));

    std::vector<Connection> connections;
    bool outputFailed = false;
    bool stopped = false;
    while (!stopped && !outputFailed) {
        std::vector<pollfd> watched = {{signals, POLLIN, 0}, {listener, POLLIN, 0}};
        for (const auto& connection : connections) {
            watched.push_back({connection.socket, POLLIN, 0});
        }
        if (poll(watched.data(), watched.size(), -1) == -1) {
            continue;  // interrupted
        }
        stopped = watched[0].revents != 0;
        if (watched[1].revents != 0) {
            accept(listener, connections);
        }
        // Walks backwards so that closing one leaves the places of those still to read.
        for (size_t i = watched.size() - 1; i >= 2; --i) {
            auto& connection = connections[i - 2];
            if (watched[i].revents != 0 && !readFrom(connection, outputFailed)) {
                close(connection.socket);
                connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i - 2));
            }
        }
    }
    for (const auto& connection : connections) {
        close(connection.socket);
    }
    close(signals);
    close(listener);
    return outputFailed ? 1 : 0;
}
