#include "transport/NetworkEndpointText.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

std::optional<NetworkEndpoint> numericEndpoint(const std::string& host, int32_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    NetworkEndpoint endpoint;
    std::memcpy(&endpoint.address, found->ai_addr, found->ai_addrlen);
    endpoint.length = found->ai_addrlen;
    freeaddrinfo(found);
    return endpointOnPort(endpoint, port);
}

NetworkEndpoint endpointOnPort(NetworkEndpoint endpoint, int32_t port) {
    const auto networkPort = htons(static_cast<uint16_t>(port & 0xFFFF));
    if (endpoint.address.ss_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&endpoint.address)->sin_port = networkPort;
    } else if (endpoint.address.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&endpoint.address)->sin6_port = networkPort;
    }
    return endpoint;
}

std::string endpointText(const NetworkEndpoint& endpoint) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (endpoint.length == 0 ||
        getnameinfo(endpoint.socketAddress(), endpoint.length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return endpoint.address.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + service
                                                  : std::string(host) + ":" + service;
}
