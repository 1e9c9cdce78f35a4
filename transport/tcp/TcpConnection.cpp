#include "transport/tcp/TcpConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transport/NetworkEndpointText.h"

namespace {

// The OSC address a packet begins with (a bundle's is "#bundle"): the bytes up to its first NUL.
std::string oscAddressOf(QVOSCBytes packet) {
    const auto end = std::find(packet.begin(), packet.end(), uint8_t{0});
    return std::string(packet.begin(), end);
}

// At most this much is read in one poll, so that a peer that floods cannot hold the main loop;
// the rest waits in the kernel, which slows the peer down.
constexpr size_t readPerPoll = size_t{64} << 10;
constexpr size_t readChunk = size_t{16} << 10;
// The kernel's own send buffer is kept small: what it holds can no longer be dropped for a newer
// value, so a large one would let stale levels pile up in front of a trigger.
constexpr int kernelSendBuffer = 32 << 10;

std::string systemError(int error) {
    return std::strerror(error);
}

}  // namespace

std::unique_ptr<TcpConnection> TcpConnection::connectionToEndpoint(const NetworkEndpoint& peer,
                                                                   StreamFraming framing,
                                                                   MainLoop& mainLoop,
                                                                   StatusHandler onStatus) {
    const int family = peer.address.ss_family;
    if ((family != AF_INET && family != AF_INET6) || peer.length == 0) {
        return nullptr;
    }
    std::unique_ptr<TcpConnection> connection(
        new TcpConnection(peer, framing, mainLoop, std::move(onStatus)));
    connection->startConnecting();
    return connection;
}

TcpConnection::TcpConnection(const NetworkEndpoint& peer, StreamFraming framing, MainLoop& mainLoop,
                             StatusHandler onStatus)
    : peer_(peer),
      peerText_(endpointText(peer)),
      framing_(framing),
      mainLoop_(mainLoop),
      onStatus_(std::move(onStatus)),
      handOff_(std::make_shared<DatagramHandOff>(mainLoop)),
      deframer_(framing) {}

TcpConnection::~TcpConnection() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

TcpConnection::Counters TcpConnection::counters() const {
    Counters counters = counters_;
    counters.droppedReceived = handOff_->droppedCount();
    return counters;
}

void TcpConnection::report(std::string status) {
    status_ = std::move(status);
    if (onStatus_) {
        onStatus_(status_);
    }
}

void TcpConnection::startConnecting() {
    retryTimer_.reset();
    report("connecting to " + peerText_);
    socket_ = socket(peer_.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ == -1) {
        lose("socket: " + systemError(errno));
        return;
    }
    // Each packet is written whole and should leave at once, not wait to be joined by the next.
    const int on = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &kernelSendBuffer, sizeof kernelSendBuffer);

    state_ = State::connecting;
    connectStarted_ = std::chrono::steady_clock::now();
    int result;
    do {
        result = connect(socket_, peer_.socketAddress(), peer_.length);
    } while (result == -1 && errno == EINTR);
    if (result == -1 && errno != EINPROGRESS) {
        lose(systemError(errno));
        return;
    }
    pollTimer_ = mainLoop_.scheduleRepeatingTimer(pollIntervalSeconds, [this] { poll(); });
    if (result == 0) {
        connected();
    }
}

void TcpConnection::poll() {
    if (state_ == State::connecting) {
        finishConnecting();
    }
    if (state_ == State::connected) {
        receive();
    }
    if (state_ == State::connected) {
        flush();
    }
}

void TcpConnection::finishConnecting() {
    pollfd watched{socket_, POLLOUT, 0};
    if (::poll(&watched, 1, 0) <= 0) {
        const std::chrono::duration<double> waited =
            std::chrono::steady_clock::now() - connectStarted_;
        if (waited.count() >= connectTimeoutSeconds) {
            lose("no answer within " + std::to_string(static_cast<int>(connectTimeoutSeconds)) +
                 " s");
        }
        return;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) == -1) {
        error = errno;
    }
    if (error != 0) {
        lose(systemError(error));
        return;
    }
    connected();
}

void TcpConnection::connected() {
    state_ = State::connected;
    retrySeconds_ = firstRetrySeconds;
    deframer_ = StreamDeframer(framing_);
    std::vector<Outgoing> held = std::move(heldTurns_);
    heldTurns_.clear();
    for (Outgoing& turn : held) {
        queue(std::move(turn.bytes), Kind::trigger, std::move(turn.slot));
    }
    report("connected to " + peerText_);
}

void TcpConnection::lose(const std::string& reason) {
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
    state_ = State::waiting;
    pollTimer_.reset();
    // Trigger turns the peer has not had whole go out again first on the next connection, the
    // newest of each slot; a part of one that left is cut off by the new connection.
    for (Outgoing& packet : outgoing_) {
        if (packet.kind == Kind::trigger) {
            hold(std::move(packet));
        }
    }
    outgoing_.clear();
    sentOfFront_ = 0;
    bufferedBytes_ = 0;

    report("connection to " + peerText_ + " lost: " + reason);
    retryTimer_ = mainLoop_.scheduleRepeatingTimer(retrySeconds_, [this] { startConnecting(); });
    retrySeconds_ = std::min(retrySeconds_ * 2, longestRetrySeconds);
}

void TcpConnection::receive() {
    uint8_t buffer[readChunk];
    for (size_t total = 0; total < readPerPoll;) {
        const ssize_t received = recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received == -1) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                lose(systemError(errno));
            }
            return;
        }
        if (received == 0) {
            lose(deframer_.holdsPartialPacket() ? "closed by the peer in the middle of a packet"
                                                : "closed by the peer");
            return;
        }
        total += static_cast<size_t>(received);
        const bool framedWell = deframer_.feed(
            QVOSCBytes(buffer, static_cast<size_t>(received)), [this](QVOSCBytes packet) {
                if (delegate_) {
                    handOff_->offer(delegate_, packet.data(), packet.size(), peer_);
                }
            });
        if (!framedWell) {
            lose(deframer_.failure());
            return;
        }
    }
}

void TcpConnection::flush() {
    while (!outgoing_.empty()) {
        const QVOSCData& front = outgoing_.front().bytes;
        const ssize_t sent = ::send(socket_, front.data() + sentOfFront_,
                                    front.size() - sentOfFront_, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == -1) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                lose(systemError(errno));
            }
            return;
        }
        sentOfFront_ += static_cast<size_t>(sent);
        bufferedBytes_ -= static_cast<size_t>(sent);
        if (sentOfFront_ == front.size()) {
            outgoing_.pop_front();
            sentOfFront_ = 0;
        }
    }
}

TcpConnection::Outcome TcpConnection::send(const QVOSCPacket& packet, Kind kind, std::string slot) {
    const QVOSCData bytes = packet.packetizedData();
    return sendBytes(bytes, kind, std::move(slot));
}

TcpConnection::Outcome TcpConnection::sendBytes(QVOSCBytes packet, Kind kind, std::string slot) {
    if (slot.empty()) {
        slot = oscAddressOf(packet);
    }
    if (state_ != State::connected) {
        if (kind == Kind::trigger) {
            hold({framePacket(packet, framing_), kind, std::move(slot)});
            return Outcome::held;
        }
        ++counters_.unsentWhileDisconnected;
        return Outcome::dropped;
    }
    return queue(framePacket(packet, framing_), kind, std::move(slot));
}

void TcpConnection::forget(std::string_view slot) {
    std::erase_if(heldTurns_, [&](const Outgoing& held) { return held.slot == slot; });
}

void TcpConnection::hold(Outgoing turn) {
    const auto older = std::find_if(heldTurns_.begin(), heldTurns_.end(),
                                    [&](const Outgoing& held) { return held.slot == turn.slot; });
    if (older != heldTurns_.end()) {
        heldTurns_.erase(older);
        ++counters_.replacedTriggers;
    } else if (heldTurns_.size() == maximumHeldTurns) {
        heldTurns_.erase(heldTurns_.begin());
        ++counters_.replacedTriggers;
    }
    heldTurns_.push_back(std::move(turn));
}

TcpConnection::Outcome TcpConnection::queue(QVOSCData framed, Kind kind, std::string slot) {
    if (!makeRoom(framed.size(), kind)) {
        ++(kind == Kind::continuous ? counters_.droppedContinuous : counters_.droppedTriggers);
        return Outcome::dropped;
    }
    bufferedBytes_ += framed.size();
    outgoing_.push_back({std::move(framed), kind, std::move(slot)});
    flush();
    return Outcome::queued;
}

bool TcpConnection::makeRoom(size_t size, Kind kind) {
    // The first packet cannot go once part of it has left: the peer would read it cut.
    const std::ptrdiff_t firstDroppable = sentOfFront_ > 0 ? 1 : 0;
    const auto isContinuous = [](const Outgoing& packet) {
        return packet.kind == Kind::continuous;
    };
    // A trigger turn outranks everything older: the peer must end in the newest state.
    const auto mayGo = [&](const Outgoing& packet) {
        return isContinuous(packet) || kind == Kind::trigger;
    };
    size_t kept = 0;
    size_t keptCount = 0;
    for (auto packet = outgoing_.begin(); packet != outgoing_.end(); ++packet) {
        if (packet < outgoing_.begin() + firstDroppable || !mayGo(*packet)) {
            kept += packet->bytes.size() - (packet == outgoing_.begin() ? sentOfFront_ : 0);
            ++keptCount;
        }
    }
    // One packet larger than the whole buffer still goes when nothing else waits. Nothing is
    // dropped for a packet that would not fit all the same.
    if (keptCount > 0 && kept + size > maximumBufferedBytes) {
        return false;
    }
    // The continuous values go first, then, for a trigger turn, the oldest of the rest.
    for (const bool continuousPass : {true, false}) {
        for (auto packet = outgoing_.begin() + firstDroppable;
             bufferedBytes_ + size > maximumBufferedBytes && packet != outgoing_.end();) {
            if (isContinuous(*packet) == continuousPass && mayGo(*packet)) {
                bufferedBytes_ -= packet->bytes.size();
                ++(continuousPass ? counters_.droppedContinuous : counters_.droppedTriggers);
                packet = outgoing_.erase(packet);
            } else {
                ++packet;
            }
        }
    }
    return true;
}
