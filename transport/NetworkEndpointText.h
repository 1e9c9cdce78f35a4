#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transport/NetworkEndpoint.h"

// A numeric IPv4 or IPv6 address ("192.168.1.20", "::1", "fe80::1%eth0") with the port's low 16
// bits; nothing for anything else. Never consults a name service, so it never blocks.
std::optional<NetworkEndpoint> numericEndpoint(const std::string& host, int32_t port);

// The same endpoint on another port (its low 16 bits).
NetworkEndpoint endpointOnPort(NetworkEndpoint endpoint, int32_t port);

// "127.0.0.1:5000", "[::1]:5000"; "?" when no address is known.
std::string endpointText(const NetworkEndpoint& endpoint);
