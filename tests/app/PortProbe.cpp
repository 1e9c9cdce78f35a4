#include "tests/app/PortProbe.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/Udp.h"

namespace {

int bindAnyAddress(int fd, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

}  // namespace

int bindErrorOnPort(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int error = bindAnyAddress(fd, port);
    close(fd);
    return error;
}

PortHolder::PortHolder() : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
    if (bindAnyAddress(socket_, 0) == 0) {
        port_ = boundPort(socket_);
    }
}

PortHolder::~PortHolder() {
    close(socket_);
}
