#include "tests/app/support/PortProbe.h"

#include <unistd.h>

#include <cerrno>

#include "tests/support/Udp.h"

int bindErrorOnPort(uint16_t port) {
    const int fd = wildcardSocketOn(port);
    if (fd == -1) {
        return errno;
    }
    close(fd);
    return 0;
}

PortHolder::PortHolder() : socket_(wildcardSocketOn(0)), port_(boundPort(socket_)) {}

PortHolder::~PortHolder() {
    close(socket_);
}
