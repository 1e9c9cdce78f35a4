#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "osc/QVOSCBundle.h"
#include "osc/QVOSCMessage.h"
#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"

// Sends OSC packets as UDP datagrams to one IPv4 destination fixed at creation, either at once
// (sendOSCPacket) or gathered into a pending bundle that a 0.01 s timer flushes.
class QVOSCSender {
  public:
    // Nothing when the socket cannot be opened (reported as "socket: ..." on standard error) or
    // the host name is absent, not ASCII, or does not resolve (silently). Call on the main thread.
    static std::unique_ptr<QVOSCSender> senderWithDestinationHostName(
        std::optional<std::string> hostName, int32_t portNumber, MainLoop& mainLoop);

    // Closes the socket, stops the flush timer and drops a pending bundle unsent.
    ~QVOSCSender();
    QVOSCSender(const QVOSCSender&) = delete;
    QVOSCSender& operator=(const QVOSCSender&) = delete;

    // One datagram of exactly the packet's bytes; true when the system accepted it.
    bool sendOSCPacket(const QVOSCPacket& packet) const;
    // Gathers `message` into the pending bundle; any thread.
    void addOSCMessage(std::shared_ptr<QVOSCMessage> message);
    // The flush timer's action: sends the pending bundle, if any, then drops it.
    void sendMainBundle();

    int32_t socketDescriptor() const { return socketDescriptor_; }
    int32_t portNumber() const { return portNumber_; }
    const std::optional<std::string>& destinationHostName() const { return destinationHostName_; }
    const sockaddr_in& destinationAddress() const { return destinationAddress_; }

  private:
    QVOSCSender(std::optional<std::string> hostName, int32_t portNumber);
    bool prepareSocket();

    int32_t socketDescriptor_ = -1;
    int32_t portNumber_ = 0;
    std::optional<std::string> destinationHostName_;
    sockaddr_in destinationAddress_{};
    std::mutex mainBundleLock;
    std::shared_ptr<QVOSCBundle> mainBundle;
    std::unique_ptr<RepeatingTimer> timer;
};
