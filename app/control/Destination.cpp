#include "app/control/Destination.h"

#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"
#include "transport/NetworkEndpointText.h"
#include "transport/udp/QVOSCSourcedDatagramDelegate.h"

namespace keys = settings_keys;

namespace {

constexpr const char* loopbackHost = "127.0.0.1";

}  // namespace

class Destination::ConnectionDelegate : public QVOSCDatagramDelegate,
                                        public QVOSCSourcedDatagramDelegate {
  public:
    // `handling` is shared: a packet already posted may be handed on after the destination went.
    ConnectionDelegate(std::shared_ptr<QVOSCDatagramDelegate> inner, std::shared_ptr<bool> handling)
        : inner_(std::move(inner)), handling_(std::move(handling)) {}

    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override {
        handle([&] { inner_->dispatchRawPacket(std::move(data)); });
    }
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                           const NetworkEndpoint& source) override {
        auto* sourced = dynamic_cast<QVOSCSourcedDatagramDelegate*>(inner_.get());
        handle([&] {
            if (sourced != nullptr) {
                sourced->dispatchRawPacket(std::move(data), source);
            } else {
                inner_->dispatchRawPacket(std::move(data));
            }
        });
    }

  private:
    template <typename Handle>
    void handle(Handle&& handlePacket) {
        *handling_ = true;
        handlePacket();
        *handling_ = false;
    }

    std::shared_ptr<QVOSCDatagramDelegate> inner_;
    std::shared_ptr<bool> handling_;
};

Destination::Destination(MainLoop& mainLoop, const SettingsModel& settings,
                         std::function<void()> changed)
    : mainLoop_(mainLoop),
      settings_(settings),
      changed_(std::move(changed)),
      hostResolver_(mainLoop, hostRetryInterval,
                    [this](const HostResolver::Answer& answer) { hostAnswered(answer); }) {}

void Destination::takeHost() {
    host_ = settings_.text(keys::zandorexHost);
    hostAddress_.reset();
    hostProblem_.clear();
    hostResolver_.cancel();
    if (host_) {
        hostProblem_ = "resolving " + *host_;
    }
}

void Destination::rehearse(Journal journal, bool alsoSend) {
    journal_ = std::move(journal);
    alsoSend_ = alsoSend;
}

void Destination::lookUpHost() {
    if (host_ && !offline()) {
        hostResolver_.resolve(*host_);  // answers at once for a numeric address
    }
}

void Destination::followSettings() {
    subscription_ = settings_.subscribe([this](std::string_view key) { settingChanged(key); });
}

void Destination::settingChanged(std::string_view key) {
    if (key == keys::zandorexHost) {
        takeHost();
        open();
        lookUpHost();
    } else if (key == keys::zandorexSendPort || key == keys::zandorexProtocol) {
        open();
    } else {
        return;
    }
    changed_();
}

std::optional<StreamFraming> Destination::framing() const {
    const std::optional<std::string> protocol = settings_.text(keys::zandorexProtocol);
    if (protocol == "tcp") {
        return StreamFraming::slip;
    }
    if (protocol == "tcp-length") {
        return StreamFraming::lengthPrefix;
    }
    return std::nullopt;
}

void Destination::hostAnswered(const HostResolver::Answer& answer) {
    if (!host_ || answer.host != *host_) {
        return;
    }
    hostAddress_ = answer.address;
    hostProblem_ =
        answer.address ? std::string() : "cannot resolve " + answer.host + ": " + answer.failure;
    open();
    changed_();
}

void Destination::connectionReported(const std::string& status) {
    connectionStatus_ = status;
    // The connection hands on what it held before it reports being connected; the first report
    // comes before `connection_` is set.
    if (!held_.empty() && connection_ && connection_->isConnected()) {
        const std::vector<Held> sent = std::move(held_);
        held_.clear();
        for (const Held& turn : sent) {
            if (heldSent_) {
                heldSent_(*turn.message, turn.slot);
            }
        }
    }
    changed_();
}

void Destination::hold(std::shared_ptr<const QVOSCMessage> message, std::string slot) {
    std::erase_if(held_, [&](const Held& older) { return older.slot == slot; });
    if (held_.size() == TcpConnection::maximumHeldTurns) {
        held_.erase(held_.begin());
    }
    held_.push_back({std::move(message), std::move(slot)});
}

void Destination::forget(const std::string& slot) {
    std::erase_if(held_, [&](const Held& turn) { return turn.slot == slot; });
    if (connection_) {
        connection_->forget(slot);
    }
}

void Destination::open() {
    sender_.reset();
    connection_.reset();
    held_.clear();
    connectionStatus_.clear();
    const auto port = static_cast<int32_t>(settings_.whole(keys::zandorexSendPort));
    if (offline()) {
        error_.clear();
        return;
    }
    if (host_ && !hostAddress_) {
        error_ = hostProblem_;
        return;
    }
    if (const std::optional<StreamFraming> streamFraming = framing()) {
        const std::optional<NetworkEndpoint> peer =
            host_ ? std::optional(endpointOnPort(*hostAddress_, port))
                  : numericEndpoint(loopbackHost, port);
        if (peer) {
            connection_ = TcpConnection::connectionToEndpoint(
                *peer, *streamFraming, mainLoop_,
                [this](const std::string& status) { connectionReported(status); });
        }
        if (connection_) {
            connection_->setDelegate(incomingDelegate_);
            connectionStatus_ = connection_->status();
        }
        error_ = connection_ ? std::string() : sendFailure(port);
        return;
    }
    sender_ = host_ ? QVOSCSender::senderWithDestinationEndpoint(
                          endpointOnPort(*hostAddress_, port), mainLoop_)
                    : QVOSCSender::senderWithDestinationHostName(loopbackHost, port, mainLoop_);
    error_ = sender_ ? std::string() : sendFailure(port);
}

Destination::Delivery Destination::send(std::shared_ptr<const QVOSCMessage> message, Kind kind,
                                        std::string slot) {
    if (slot.empty()) {
        slot = message->address()->address();
    }
    if (journal_) {
        journal_(*message);
        if (offline()) {
            return Delivery::sent;
        }
    }
    if (connection_) {
        switch (connection_->send(
            *message,
            kind == Kind::trigger ? TcpConnection::Kind::trigger : TcpConnection::Kind::continuous,
            slot)) {
            case TcpConnection::Outcome::queued:
                return Delivery::sent;
            case TcpConnection::Outcome::held:
                hold(std::move(message), std::move(slot));
                return Delivery::held;
            case TcpConnection::Outcome::dropped:
                break;
        }
        return Delivery::notSent;
    }
    if (sender_) {
        sender_->sendOSCPacket(*message);  // a datagram the system refuses is not waited for
        return Delivery::sent;
    }
    return Delivery::notSent;
}

std::optional<NetworkEndpoint> Destination::endpoint() const {
    if (connection_) {
        return connection_->peer();
    }
    return sender_ ? std::optional(sender_->destinationAddress()) : std::nullopt;
}

bool Destination::replyOnConnection(const QVOSCPacket& packet) {
    if (!connection_ || !*handlingConnectionPacket_) {
        return false;
    }
    connection_->send(packet, TcpConnection::Kind::reply);
    return true;
}

void Destination::setIncomingDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate) {
    incomingDelegate_ =
        std::make_shared<ConnectionDelegate>(std::move(delegate), handlingConnectionPacket_);
    if (connection_) {
        connection_->setDelegate(incomingDelegate_);
    }
}

uint64_t Destination::droppedSends() const {
    if (connection_) {
        const TcpConnection::Counters counters = connection_->counters();
        return counters.droppedContinuous + counters.droppedTriggers;
    }
    return sender_ ? sender_->busySendCount() : 0;
}
