#include "transport/QVOSCListener.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

}  // namespace

QVOSCListener::QVOSCListener(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

QVOSCListener::~QVOSCListener() {
    // Runs on the listening thread when that thread held the last share; it has left its loop
    // by then, so nothing here waits.
    stopListening();
}

std::shared_ptr<QVOSCListener> QVOSCListener::defaultListenerOnPort(int32_t port,
                                                                    MainLoop& mainLoop) {
    auto listener = std::make_shared<QVOSCListener>(mainLoop);
    listener->setDelegate(std::make_shared<QVOSCDispatcher>());
    if (!listener->startListeningOnPort(port)) {
        return nullptr;  // destroying it closes a socket that it opened
    }
    return listener;
}

bool QVOSCListener::startListeningOnPort(int32_t port) {
    auto self = weak_from_this().lock();
    if (!self || started_) {
        return false;
    }
    started_ = true;

    const int socketFd = socket(AF_INET, SOCK_DGRAM, 0);
    socketDescriptor_ = socketFd;
    if (socketFd == -1) {
        perror("socket");
        return false;
    }
    socketOpen_ = true;

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == -1) {
        perror("bind");
        return false;
    }

    stopEvent_ = eventfd(0, EFD_CLOEXEC);
    if (stopEvent_ == -1) {
        perror("eventfd");
        return false;
    }
    {
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = true;
    }
    try {
        std::thread([self, socketFd, stopEvent = stopEvent_] {
            self->listenThread(socketFd, stopEvent);
        }).detach();
    } catch (const std::system_error& error) {
        systemLog(std::string("error with listen thread ") + error.what());
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = false;
        return false;
    }
    return true;
}

void QVOSCListener::stopListening() {
    if (stopEvent_ != -1) {
        stopRequested_ = true;
        const uint64_t wake = 1;
        while (write(stopEvent_, &wake, sizeof(wake)) == -1 && errno == EINTR) {
        }
        // Closing the socket does not end a wait in another thread on Linux, and a closed
        // number may be reused at once by a newer socket: so the thread is woken and has left
        // its loop before anything is closed. It only ever waits in poll, which the event ends.
        std::unique_lock lock(threadStateLock_);
        threadLeft_.wait(lock, [this] { return !threadRunning_; });
        lock.unlock();
        close(stopEvent_);
        stopEvent_ = -1;
    }
    if (socketOpen_) {
        close(socketDescriptor_.load());
        socketOpen_ = false;
    }
    socketDescriptor_ = -1;
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

void QVOSCListener::listenThread(int socket, int stopEvent) {
    pthread_setname_np(pthread_self(), "OSCListener");
    try {
        receiveDatagrams(socket, stopEvent);
    } catch (const std::exception& error) {
        systemLog(std::string("error with listen thread ") + error.what());
    }
    {
        std::lock_guard lock(threadStateLock_);
        threadRunning_ = false;
    }
    threadLeft_.notify_all();
}

void QVOSCListener::receiveDatagrams(int socket, int stopEvent) {
    std::vector<uint8_t> buffer(maximumDatagramSize);
    pollfd watched[2] = {{stopEvent, POLLIN, 0}, {socket, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) == -1) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[0].revents != 0) {
            return;
        }
        // Take everything queued before waiting again: one system call per datagram in a flood.
        for (;;) {
            if (stopRequested_.load(std::memory_order_relaxed)) {
                return;
            }
            sockaddr_in source{};
            socklen_t sourceLength = sizeof(source);
            const ssize_t received = recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                              reinterpret_cast<sockaddr*>(&source), &sourceLength);
            if (received == -1) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    break;
                }
                return;
            }
            deliver(buffer.data(), static_cast<size_t>(received));
        }
    }
}

void QVOSCListener::deliver(const uint8_t* bytes, size_t length) {
    auto target = delegate();
    if (!target) {
        return;
    }
    std::shared_ptr<const QVOSCData> datagram = std::make_shared<QVOSCData>(bytes, bytes + length);
    mainLoop_.postToMainThread([target = std::move(target), datagram = std::move(datagram)] {
        target->dispatchRawPacket(datagram);
    });
}
