#pragma once

#include <chrono>
#include <cstdint>

// A port, free a moment ago for sockets of `socketType` (SOCK_DGRAM, SOCK_STREAM) on every local
// IPv4 address, that the system never hands out on its own, for programs that must bind it
// themselves.
uint16_t freePortBelowEphemeralRange(int socketType);

// Whether a TCP socket listens on `port` (on any local address) within `timeout`, for waiting on
// a server that another program starts.
bool waitForTcpListener(uint16_t port, std::chrono::milliseconds timeout);
