#include "transport/QVOSCListener.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "transport/QVOSCDispatcher.h"
#include "transport/SystemLog.h"

namespace {

// The largest datagram handed on; longer ones arrive cut to this length.
constexpr size_t maximumDatagramSize = 65506;

// perror itself may change errno; the caller reads the failing call's error afterwards.
void reportFailure(const char* call) {
    const int error = errno;
    perror(call);
    errno = error;
}

}  // namespace

QVOSCListener::QVOSCListener(MainLoop& mainLoop)
    : handOff_(std::make_shared<DatagramHandOff>(mainLoop)) {}

QVOSCListener::~QVOSCListener() {
    // Runs on the listening thread when that thread held the last share; it has left its loop
    // by then, so nothing here waits.
    stopListening();
}

std::shared_ptr<QVOSCListener> QVOSCListener::defaultListenerOnPort(int32_t port,
                                                                    MainLoop& mainLoop) {
    auto listener = std::make_shared<QVOSCListener>(mainLoop);
    listener->setDelegate(std::make_shared<QVOSCDispatcher>());
    const bool succeeded = listener->startListeningOnPort(port);
    return started(std::move(listener), succeeded);
}

std::shared_ptr<QVOSCListener> QVOSCListener::defaultListenerOnAddress(const NetworkEndpoint& local,
                                                                       MainLoop& mainLoop) {
    auto listener = std::make_shared<QVOSCListener>(mainLoop);
    listener->setDelegate(std::make_shared<QVOSCDispatcher>());
    const bool succeeded = listener->startListeningOnAddress(local);
    return started(std::move(listener), succeeded);
}

std::shared_ptr<QVOSCListener> QVOSCListener::started(std::shared_ptr<QVOSCListener> listener,
                                                      bool succeeded) {
    if (!succeeded) {
        // Destroying it closes a socket that it opened; the caller still reads why it failed.
        const int failure = errno;
        listener.reset();
        errno = failure;
    }
    return listener;
}

bool QVOSCListener::startListeningOnPort(int32_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    NetworkEndpoint wildcard;
    std::memcpy(&wildcard.address, &address, sizeof address);
    wildcard.length = sizeof address;
    return startListeningOnAddress(wildcard);
}

bool QVOSCListener::startListeningOnAddress(const NetworkEndpoint& local) {
    auto self = weak_from_this().lock();
    if (!self || started_) {
        return false;
    }
    started_ = true;

    const int socketFd = socket(local.address.ss_family, SOCK_DGRAM, 0);
    socketDescriptor_ = socketFd;
    if (socketFd == -1) {
        reportFailure("socket");
        return false;
    }
    socketOpen_ = true;

    if (bind(socketFd, local.socketAddress(), local.length) == -1) {
        reportFailure("bind");
        return false;
    }

    {
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = true;
    }
    try {
        std::thread([self, socketFd] { self->listenThread(socketFd); }).detach();
    } catch (const std::system_error& error) {
        systemLog(std::string("error with listen thread ") + error.what());
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = false;
        return false;
    }
    threadStarted_ = true;
    return true;
}

void QVOSCListener::stopListening() {
    if (threadStarted_) {
        // On Linux, closing a socket does not end a receive blocked on it in another thread, and
        // its number may go at once to a newer socket. Shutting down its reading side does end
        // the receive; the socket is closed only once the thread has left its loop.
        stopRequested_ = true;
        shutdown(socketDescriptor_.load(), SHUT_RD);
        std::unique_lock lock(threadStateLock_);
        threadLeft_.wait(lock, [this] { return !threadRunning_; });
        threadStarted_ = false;
    }
    if (socketOpen_) {
        close(socketDescriptor_.load());
        socketOpen_ = false;
    }
    socketDescriptor_ = -1;
}

bool QVOSCListener::sendPacketTo(const QVOSCPacket& packet,
                                 const NetworkEndpoint& destination) const {
    if (!socketOpen_ || destination.length == 0) {
        return false;
    }
    const QVOSCData bytes = packet.packetizedData();
    ssize_t sent;
    do {
        sent = sendto(socketDescriptor_.load(), bytes.data(), bytes.size(), 0,
                      destination.socketAddress(), destination.length);
    } while (sent == -1 && errno == EINTR);
    return sent != -1;
}

std::shared_ptr<QVOSCDatagramDelegate> QVOSCListener::delegate() const {
    std::lock_guard lock(delegateLock_);
    return delegate_;
}

void QVOSCListener::setDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate) {
    {
        std::lock_guard lock(delegateLock_);
        delegate_.swap(delegate);
    }
    // The old delegate, if this was its last share, goes here, outside the lock.
}

void QVOSCListener::listenThread(int socket) {
    pthread_setname_np(pthread_self(), "OSCListener");
    try {
        receiveDatagrams(socket);
    } catch (const std::exception& error) {
        systemLog(std::string("error with listen thread ") + error.what());
    }
    {
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = false;
    }
    threadLeft_.notify_all();
}

void QVOSCListener::receiveDatagrams(int socket) {
    std::vector<uint8_t> buffer(maximumDatagramSize);
    for (;;) {
        NetworkEndpoint source;
        source.length = sizeof(source.address);
        const ssize_t received =
            recvfrom(socket, buffer.data(), buffer.size(), 0,
                     reinterpret_cast<sockaddr*>(&source.address), &source.length);
        // Once shut down, the receive returns 0 at once, as for an empty datagram; the flag
        // tells the two apart.
        if (stopRequested_) {
            return;
        }
        if (received == -1) {
            if (errno == EINTR) {
                continue;  // a benign interruption must not end reception
            }
            return;
        }
        if (auto target = delegate()) {
            handOff_->offer(std::move(target), buffer.data(), static_cast<size_t>(received),
                            source);
        }
    }
}
