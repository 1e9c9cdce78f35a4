#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"
#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"

// Sends OSC packets as UDP datagrams to one destination fixed at creation, either at once
// (sendOSCPacket) or gathered into a pending bundle that leaves 0.01 s after its first message
// (the flush timer runs only while a bundle is pending).
class QVOSCSender {
  public:
    // Nothing when the socket cannot be opened (reported as "socket: ..." on standard error) or
    // the host name is absent, not ASCII, or does not resolve (silently). Call on the main thread.
    static std::unique_ptr<QVOSCSender> senderWithDestinationHostName(
        std::optional<std::string> hostName, int32_t portNumber, MainLoop& mainLoop);
    // To an IPv4 or IPv6 address found beforehand (its port included), so that creating it never
    // waits for a name service. Nothing when the socket cannot be opened ("socket: ..." on
    // standard error) or the address is neither IPv4 nor IPv6. Call on the main thread.
    static std::unique_ptr<QVOSCSender> senderWithDestinationEndpoint(
        const NetworkEndpoint& destination, MainLoop& mainLoop);

    // Closes the socket, stops the flush timer and drops a pending bundle unsent.
    ~QVOSCSender();
    QVOSCSender(const QVOSCSender&) = delete;
    QVOSCSender& operator=(const QVOSCSender&) = delete;

    // One datagram of exactly the packet's bytes, sent without waiting; true when the system
    // accepted it. A full send buffer drops it and counts it in busySendCount().
    bool sendOSCPacket(const QVOSCPacket& packet) const;
    // Gathers `message` into the pending bundle; any thread.
    void addOSCMessage(std::shared_ptr<QVOSCMessage> message);
    // The flush timer's action: sends the pending bundle, if any, then drops it and stops the
    // timer until the next message.
    void sendMainBundle();

    int32_t socketDescriptor() const { return socketDescriptor_; }
    int32_t portNumber() const { return portNumber_; }
    const std::optional<std::string>& destinationHostName() const { return destinationHostName_; }
    const NetworkEndpoint& destinationAddress() const { return destinationAddress_; }
    // Datagrams dropped because the system had no room for them at once (EAGAIN, ENOBUFS); any
    // thread.
    uint64_t busySendCount() const { return busySendCount_.load(std::memory_order_relaxed); }

  private:
    QVOSCSender(std::optional<std::string> hostName, int32_t portNumber);
    bool prepareSocket();
    bool openSocket(int family);
    void useMainLoop(MainLoop& mainLoop);
    // Starts the flush timer unless it runs; on the main thread.
    void armFlushTimer();

    int32_t socketDescriptor_ = -1;
    int32_t portNumber_ = 0;
    std::optional<std::string> destinationHostName_;
    NetworkEndpoint destinationAddress_;
    std::mutex mainBundleLock;
    std::shared_ptr<QVOSCBundle> mainBundle;
    MainLoop* mainLoop_ = nullptr;
    std::thread::id mainThread_;
    // Tells calls posted to the main thread whether the sender still exists.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
    std::unique_ptr<RepeatingTimer> timer;  // main thread only
    mutable std::atomic<uint64_t> busySendCount_{0};
};
