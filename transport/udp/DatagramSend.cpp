#include "transport/udp/DatagramSend.h"

#include <sys/socket.h>

#include <cerrno>

DatagramSendResult sendDatagramWithoutWaiting(int socket, QVOSCBytes bytes,
                                              const NetworkEndpoint& destination) {
    ssize_t sent;
    do {
        sent = sendto(socket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                      destination.socketAddress(), destination.length);
    } while (sent == -1 && errno == EINTR);
    if (sent != -1) {
        return DatagramSendResult::sent;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS ? DatagramSendResult::busy
                                                                       : DatagramSendResult::failed;
}
