#include "transport/udp/QVOSCListener.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "transport/SystemLog.h"
#include "transport/udp/DatagramSend.h"
#include "transport/udp/QVOSCDispatcher.h"

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
    boundAddress_.length = sizeof boundAddress_.address;
    if (getsockname(socketFd, reinterpret_cast<sockaddr*>(&boundAddress_.address),
                    &boundAddress_.length) == -1) {
        boundAddress_ = local;
    }
    {
        std::lock_guard lock(socketLock_);
        socketBound_ = true;
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
        {
            std::lock_guard lock(threadStateLock_);
            stopRequested_ = true;
        }
        stopSignal_.notify_all();
        {
            // After the flag, under the lock: a socket that replaces this one now sees the flag
            // first, one that replaced it already is the one shut down here.
            std::lock_guard lock(socketLock_);
            shutdown(socketDescriptor_.load(), SHUT_RD);
        }
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
    std::lock_guard lock(socketLock_);
    if (!socketBound_) {
        return false;
    }
    const DatagramSendResult result =
        sendDatagramWithoutWaiting(socketDescriptor_.load(), bytes, destination);
    if (result == DatagramSendResult::busy) {
        busySendCount_.fetch_add(1, std::memory_order_relaxed);
    }
    return result == DatagramSendResult::sent;
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

std::string QVOSCListener::lastReceiveError() const {
    std::lock_guard lock(errorLock_);
    return lastReceiveError_;
}

void QVOSCListener::noteReceiveError(const std::string& reason) {
    {
        std::lock_guard lock(errorLock_);
        lastReceiveError_ = reason;
    }
    receiveErrorCount_.fetch_add(1);
    systemLog("OSCListener: " + reason + "; listening again in 1 s");
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
        if (received == -1 && errno == EINTR) {
            continue;  // a benign interruption must not end reception
        }
        // An empty datagram has a source; a socket shut down by someone else has none.
        if (received == -1 || (received == 0 && source.length == 0)) {
            noteReceiveError(received == -1 ? std::string(std::strerror(errno))
                                            : std::string("the socket was shut down"));
            if (!reopenAfterBackOff(socket)) {
                return;
            }
            continue;
        }
        if (auto target = delegate()) {
            handOff_->offer(std::move(target), buffer.data(), static_cast<size_t>(received),
                            source);
        }
    }
}

bool QVOSCListener::reopenAfterBackOff(int socket) {
    {
        std::lock_guard lock(socketLock_);
        socketBound_ = false;
    }
    for (;;) {
        {
            std::unique_lock lock(threadStateLock_);
            if (stopSignal_.wait_for(lock, std::chrono::seconds(1),
                                     [this] { return stopRequested_.load(); })) {
                return false;
            }
        }
        const int fresh = ::socket(boundAddress_.address.ss_family, SOCK_DGRAM, 0);
        if (fresh == -1) {
            noteReceiveError(std::string("socket: ") + std::strerror(errno));
            continue;
        }
        std::string failure;
        {
            std::lock_guard lock(socketLock_);
            if (stopRequested_) {
                close(fresh);
                return false;
            }
            // The number stays the same, so that stopListening and the answers find the new
            // socket where they found the old one; the old one goes, and its port with it.
            if (dup2(fresh, socket) == -1) {
                failure = std::string("dup2: ") + std::strerror(errno);
            } else if (bind(socket, boundAddress_.socketAddress(), boundAddress_.length) == -1) {
                failure = std::string("bind: ") + std::strerror(errno);
            } else {
                socketBound_ = true;
            }
        }
        close(fresh);
        if (failure.empty()) {
            systemLog("OSCListener: listening again");
            return true;
        }
        noteReceiveError(failure);
    }
}
