#include "tests/transport/TcpPeer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/Udp.h"
#include "transport/NetworkEndpointText.h"

TcpPeer::TcpPeer(const std::string& localAddress, uint16_t port, StreamFraming framing,
                 int receiveBuffer)
    : framing_(framing), deframer_(framing) {
    const auto local = numericEndpoint(localAddress, port);
    if (!local) {
        throw std::runtime_error("not a numeric address: " + localAddress);
    }
    listener_ = socket(local->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The port of a peer that was stopped a moment ago is taken again at once on a restart.
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0) {
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    if (listener_ == -1 || bind(listener_, local->socketAddress(), local->length) == -1 ||
        listen(listener_, 4) == -1) {
        throw std::runtime_error("cannot listen on " + endpointText(*local));
    }
    port_ = boundPort(listener_);
    endpoint_ = endpointOnPort(*local, port_);
}

TcpPeer::~TcpPeer() {
    closeConnection();
    close(listener_);
}

void TcpPeer::closeConnection() {
    if (connection_ != -1) {
        close(connection_);
        connection_ = -1;
    }
}

bool TcpPeer::step() {
    if (const int accepted = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        accepted != -1) {
        closeConnection();
        connection_ = accepted;
        deframer_ = StreamDeframer(framing_);
        ++acceptedCount_;
    }
    if (connection_ == -1 || !reading_) {
        return connection_ != -1;
    }
    uint8_t buffer[16384];
    for (;;) {
        const ssize_t received = recv(connection_, buffer, sizeof buffer, 0);
        if (received == -1 && errno == EINTR) {
            continue;
        }
        if (received == -1 && errno == EAGAIN) {
            return true;
        }
        if (received <= 0) {
            closeConnection();
            return false;
        }
        deframer_.feed(QVOSCBytes(buffer, static_cast<size_t>(received)), [&](QVOSCBytes packet) {
            packets_.emplace_back(packet.begin(), packet.end());
        });
        if (deframer_.failed()) {
            throw std::runtime_error("the peer got broken framing: " + deframer_.failure());
        }
    }
}

bool TcpPeer::sendBytes(QVOSCBytes bytes) {
    while (connection_ != -1 && !bytes.empty()) {
        const ssize_t sent = send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent == -1 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        bytes = bytes.subspan(sent > 0 ? static_cast<size_t>(sent) : 0);
    }
    return connection_ != -1;
}
