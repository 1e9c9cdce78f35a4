#pragma once

#include <signal.h>

#include <cstdint>

// Listens for OSC over TCP on `port` (0: the system picks) on every local IPv4 address and
// prints each packet that arrives, on any number of connections up to a bound, until one of
// `stopSignals` (already blocked in every thread) arrives. Each connection's framing is found
// from its first byte: 0xC0 means SLIP, anything else a length prefix. Returns the exit status:
// 0 stopped by a signal, 1 cannot listen or write.
int dumpTcp(int32_t port, const sigset_t& stopSignals);
