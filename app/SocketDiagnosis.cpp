#include "app/SocketDiagnosis.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The error of opening a UDP socket and, when `bindPort` is given, binding it as a listener
// does; nothing when both work now.
std::string socketError(const int32_t* bindPort) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd == -1) {
        return std::strerror(errno);
    }
    std::string error;
    if (bindPort != nullptr) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(*bindPort));
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == -1) {
            error = std::strerror(errno);
        }
    }
    close(fd);
    return error;
}

std::string portFailure(const char* doing, int32_t port, const std::string& reason) {
    return std::string("cannot ") + doing + " port " + std::to_string(port) + ": " + reason;
}

}  // namespace

std::string listenFailure(int32_t port) {
    const std::string error = socketError(&port);
    return portFailure("listen on", port, error.empty() ? "the port was busy" : error);
}

std::string sendFailure(int32_t port) {
    const std::string error = socketError(nullptr);
    return portFailure("send to", port, error.empty() ? "no address for the local host" : error);
}
