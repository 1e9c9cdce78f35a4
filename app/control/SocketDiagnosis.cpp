#include "app/control/SocketDiagnosis.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The error of opening a UDP socket now; nothing when that works.
std::string socketError() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd == -1) {
        return std::strerror(errno);
    }
    close(fd);
    return {};
}

std::string portFailure(const char* doing, int32_t port, const std::string& reason) {
    return std::string("cannot ") + doing + " port " + std::to_string(port) + ": " + reason;
}

}  // namespace

std::string listenFailure(int32_t port, int error) {
    return portFailure("listen on", port, std::strerror(error));
}

std::string listenFailure(const std::string& localAddress, int32_t port,
                          const std::string& reason) {
    return "cannot listen on " + localAddress + ": " + reason + " (port " + std::to_string(port) +
           ")";
}

std::string sendFailure(int32_t port) {
    const std::string error = socketError();
    return portFailure("send to", port, error.empty() ? "no address for the local host" : error);
}
