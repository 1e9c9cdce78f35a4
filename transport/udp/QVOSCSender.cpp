#include "transport/udp/QVOSCSender.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "transport/udp/DatagramSend.h"

namespace {

constexpr double flushIntervalSeconds = 0.01;

// A zero byte would cut the name short and resolve a different host.
bool isPlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte != 0 && byte < 0x80;
    });
}

}  // namespace

std::unique_ptr<QVOSCSender> QVOSCSender::senderWithDestinationHostName(
    std::optional<std::string> hostName, int32_t portNumber, MainLoop& mainLoop) {
    std::unique_ptr<QVOSCSender> sender(new QVOSCSender(std::move(hostName), portNumber));
    if (!sender->prepareSocket()) {
        return nullptr;  // the destructor closes a socket that was opened
    }
    sender->useMainLoop(mainLoop);
    return sender;
}

std::unique_ptr<QVOSCSender> QVOSCSender::senderWithDestinationEndpoint(
    const NetworkEndpoint& destination, MainLoop& mainLoop) {
    const int family = destination.address.ss_family;
    if ((family != AF_INET && family != AF_INET6) || destination.length == 0) {
        return nullptr;
    }
    const auto* port =
        family == AF_INET ? &reinterpret_cast<const sockaddr_in*>(&destination.address)->sin_port
                          : &reinterpret_cast<const sockaddr_in6*>(&destination.address)->sin6_port;
    std::unique_ptr<QVOSCSender> sender(new QVOSCSender(std::nullopt, ntohs(*port)));
    if (!sender->openSocket(family)) {
        return nullptr;
    }
    sender->destinationAddress_ = destination;
    sender->useMainLoop(mainLoop);
    return sender;
}

void QVOSCSender::useMainLoop(MainLoop& mainLoop) {
    mainLoop_ = &mainLoop;
    mainThread_ = std::this_thread::get_id();
}

void QVOSCSender::armFlushTimer() {
    if (!timer) {
        timer =
            mainLoop_->scheduleRepeatingTimer(flushIntervalSeconds, [this] { sendMainBundle(); });
    }
}

QVOSCSender::QVOSCSender(std::optional<std::string> hostName, int32_t portNumber)
    : portNumber_(portNumber), destinationHostName_(std::move(hostName)) {}

QVOSCSender::~QVOSCSender() {
    if (socketDescriptor_ >= 0) {
        close(socketDescriptor_);
    }
    if (timer) {
        timer->invalidate();
    }
    // The pending bundle goes with the members, unsent.
}

bool QVOSCSender::openSocket(int family) {
    socketDescriptor_ = socket(family, SOCK_DGRAM, 0);
    if (socketDescriptor_ == -1) {
        perror("socket");
        return false;
    }
    return true;
}

bool QVOSCSender::prepareSocket() {
    if (!openSocket(AF_INET)) {
        return false;
    }
    if (!destinationHostName_ || !isPlainAscii(*destinationHostName_)) {
        return false;
    }
    const hostent* host = gethostbyname(destinationHostName_->c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != sizeof(in_addr) ||
        host->h_addr_list[0] == nullptr) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(portNumber_ & 0xFFFF));
    std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof(in_addr));
    destinationAddress_ = NetworkEndpoint{};
    std::memcpy(&destinationAddress_.address, &address, sizeof address);
    destinationAddress_.length = sizeof address;
    return true;
}

bool QVOSCSender::sendOSCPacket(const QVOSCPacket& packet) const {
    const QVOSCData bytes = packet.packetizedData();
    const DatagramSendResult result =
        sendDatagramWithoutWaiting(socketDescriptor_, bytes, destinationAddress_);
    if (result == DatagramSendResult::busy) {
        busySendCount_.fetch_add(1, std::memory_order_relaxed);
    }
    return result == DatagramSendResult::sent;
}

void QVOSCSender::addOSCMessage(std::shared_ptr<QVOSCMessage> message) {
    // Nothing to gather: an empty pending bundle would go out as a zero-length datagram.
    if (!message) {
        return;
    }
    bool first = false;
    {
        std::lock_guard lock(mainBundleLock);
        if (!mainBundle) {
            mainBundle = QVOSCBundle::bundleWithTimestamp(std::chrono::system_clock::now());
            first = true;
        }
        mainBundle->attachObject(std::move(message));
    }
    if (!first) {
        return;  // the timer was started for the bundle's first message
    }
    if (std::this_thread::get_id() == mainThread_) {
        armFlushTimer();
        return;
    }
    mainLoop_->postToMainThread([this, alive = std::weak_ptr<const bool>(alive_)] {
        if (alive.lock()) {
            armFlushTimer();
        }
    });
}

void QVOSCSender::sendMainBundle() {
    {
        std::lock_guard lock(mainBundleLock);
        if (mainBundle) {
            sendOSCPacket(*mainBundle);  // a bundle that fails to go is dropped all the same
            mainBundle.reset();
        }
    }
    // A message added meanwhile on another thread found no bundle and arms the timer anew.
    timer.reset();
}
