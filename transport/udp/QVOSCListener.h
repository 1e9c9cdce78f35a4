#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"
#include "transport/udp/DatagramHandOff.h"
#include "transport/udp/QVOSCDatagramDelegate.h"

// Receives UDP datagrams on one local port on a detached thread named "OSCListener" and hands
// each one to the main thread, where the delegate gets it (with its source, when the delegate is
// also a QVOSCSourcedDatagramDelegate). What waits for the main thread is bounded: in a flood,
// datagrams beyond that are dropped and counted. A receive that fails does not end listening: the
// error is logged and counted, and the socket is opened again on the same address and port a
// second later (and every second after that until it is).
class QVOSCListener : public std::enable_shared_from_this<QVOSCListener> {
  public:
    explicit QVOSCListener(MainLoop& mainLoop);
    // Stops listening if still listening.
    ~QVOSCListener();
    QVOSCListener(const QVOSCListener&) = delete;
    QVOSCListener& operator=(const QVOSCListener&) = delete;

    // A listening listener whose delegate is a new QVOSCDispatcher, or nothing when the socket
    // cannot be opened or bound ("socket: ..." / "bind: ..." on standard error; errno then holds
    // the failing call's error).
    static std::shared_ptr<QVOSCListener> defaultListenerOnPort(int32_t port, MainLoop& mainLoop);
    // The same, bound to one local IPv4 or IPv6 address and its port.
    static std::shared_ptr<QVOSCListener> defaultListenerOnAddress(const NetworkEndpoint& local,
                                                                   MainLoop& mainLoop);

    // Binds the IPv4 wildcard address on the port's low 16 bits and starts the thread. A
    // listener starts once, and only while a std::shared_ptr owns it (its thread holds a share).
    bool startListeningOnPort(int32_t port);
    // The same on one local IPv4 or IPv6 address and its port.
    bool startListeningOnAddress(const NetworkEndpoint& local);
    // Closes the socket before returning; the thread leaves at once and never reads again.
    // Calls already posted to the main loop still run.
    void stopListening();

    // Sends one datagram from the listening socket, so that an answer leaves from the port the
    // question came to, without waiting. Main thread; false when not listening or the system
    // refused it; a full send buffer drops it and counts it in busySendCount().
    bool sendPacketTo(const QVOSCPacket& packet, const NetworkEndpoint& destination) const;

    std::shared_ptr<QVOSCDatagramDelegate> delegate() const;
    void setDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate);

    int32_t socketDescriptor() const { return socketDescriptor_.load(); }

    // How many receives failed, and why the last one did ("Resource temporarily unavailable",
    // "the socket was shut down", "bind: Address already in use" for a re-opening that failed);
    // any thread.
    uint64_t receiveErrorCount() const { return receiveErrorCount_.load(); }
    std::string lastReceiveError() const;

    // How many datagrams were dropped because too many waited for the main thread; any thread.
    uint64_t droppedDatagramCount() const { return handOff_->droppedCount(); }
    // Answers dropped because the system had no room for them at once (EAGAIN, ENOBUFS); any
    // thread.
    uint64_t busySendCount() const { return busySendCount_.load(std::memory_order_relaxed); }

  private:
    static std::shared_ptr<QVOSCListener> started(std::shared_ptr<QVOSCListener> listener,
                                                  bool succeeded);
    // The body of the listening thread; returns when told to stop or when a receive fails.
    void listenThread(int socket);
    void receiveDatagrams(int socket);
    void noteReceiveError(const std::string& reason);
    // On the listening thread, after a failed receive: waits a second, then gives `socket`'s number
    // a new socket bound where the old one was, retrying every second. False when told to stop.
    bool reopenAfterBackOff(int socket);

    // Outlives the listener while calls posted to the main loop still hold it.
    const std::shared_ptr<DatagramHandOff> handOff_;
    std::atomic<int32_t> socketDescriptor_{0};

    // Owned by the main thread: whether socketDescriptor_ is ours to close (a descriptor may be
    // 0), and how far starting went.
    bool socketOpen_ = false;
    bool started_ = false;
    bool threadStarted_ = false;
    std::atomic<bool> stopRequested_{false};
    // Where the socket is bound, its port as the system gave it, for opening it again.
    NetworkEndpoint boundAddress_;
    // Held while the socket is replaced and while an answer is sent, so that an answer never
    // goes from a socket not yet bound (which would bind it to a port of the system's choice).
    mutable std::mutex socketLock_;
    bool socketBound_ = false;  // guarded by socketLock_

    // The thread clears threadRunning_ once it has left its loop and will touch no descriptor.
    std::mutex threadStateLock_;
    std::condition_variable threadLeft_;
    std::condition_variable stopSignal_;  // ends the wait before a re-opening
    bool threadRunning_ = false;

    std::atomic<uint64_t> receiveErrorCount_{0};
    mutable std::mutex errorLock_;
    std::string lastReceiveError_;  // guarded by errorLock_

    mutable std::atomic<uint64_t> busySendCount_{0};

    mutable std::mutex delegateLock_;
    std::shared_ptr<QVOSCDatagramDelegate> delegate_;
};
