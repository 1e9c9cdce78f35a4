#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "osc/QVOSCTypes.h"

// A UDP socket bound to a loopback address (127.0.0.1 unless told, "::1" for IPv6) on a port
// the system picks, for catching what a sender sends.
class UdpReceiver {
  public:
    explicit UdpReceiver(const std::string& localAddress = "127.0.0.1");
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    uint16_t port() const { return port_; }
    int descriptor() const { return socket_; }

    // The next datagram, whole (up to 65535 bytes), or nothing when none comes within `timeout`.
    std::optional<QVOSCData> receive(std::chrono::milliseconds timeout);
    // Sends from this socket to 127.0.0.1 on `port`, so that answers come back here.
    bool sendTo(uint16_t port, QVOSCBytes bytes);

  private:
    int socket_ = -1;
    uint16_t port_ = 0;
};

// Sends `bytes` as one datagram to 127.0.0.1 on `port`; false when the system refused it.
bool sendDatagram(uint16_t port, QVOSCBytes bytes);

// A port that was free a moment ago and that the system never hands out on its own, for
// programs that must bind it themselves.
uint16_t freeUdpPort();

// A UDP socket bound to every local address on `port` (0: the system picks), or -1 with errno
// set when the port is taken.
int wildcardSocketOn(uint16_t port);

// The port the socket is bound to, or 0.
uint16_t boundPort(int socket);
