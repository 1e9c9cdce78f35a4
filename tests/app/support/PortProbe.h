#pragma once

#include <cstdint>

// 0 when a UDP socket can be bound on every local address at `port` (it is closed again at
// once), otherwise the bind's errno: EADDRINUSE while someone listens there.
int bindErrorOnPort(uint16_t port);

// Holds a UDP port on every local address, as another program would.
class PortHolder {
  public:
    PortHolder();
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    uint16_t port() const { return port_; }

  private:
    int socket_ = -1;
    uint16_t port_ = 0;
};
