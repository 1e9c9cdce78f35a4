#pragma once

#include <sys/socket.h>

// A socket address as the system reports it: IPv4 or IPv6, with its port. `length` is 0 when no
// address is known.
struct NetworkEndpoint {
    sockaddr_storage address{};
    socklen_t length = 0;

    const sockaddr* socketAddress() const { return reinterpret_cast<const sockaddr*>(&address); }
};
