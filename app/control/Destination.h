#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings/SettingsModel.h"
#include "osc/QVOSCMessage.h"
#include "transport/HostResolver.h"
#include "transport/MainLoop.h"
#include "transport/tcp/TcpConnection.h"
#include "transport/udp/QVOSCSender.h"

// Where the messages go: the host, send port and protocol of the settings, a named host looked
// up off the main thread, and the UDP sender or the TCP connection that reaches it. Nothing is
// sent while the address is unknown.
class Destination {
  public:
    static constexpr double hostRetryInterval = 3.0;
    enum class Kind { continuous, trigger };

    // `changed` runs on the main thread whenever the sender, the connection's state or the
    // error changed.
    Destination(MainLoop& mainLoop, const SettingsModel& settings, std::function<void()> changed);

    // Takes the host of the settings, without an address yet.
    void takeHost();
    // Looks a named host up (a numeric address answers at once).
    void lookUpHost();
    // Replaces the sender or connection by one for the current destination, when it is known.
    void open();
    // From now on follows a change of the host, the send port or the protocol, and tells
    // `changed` after each.
    void followSettings();

    // A rehearsal on a recording: every message goes to `journal` instead of the network (as
    // well, with `alsoSend`) and counts as sent. Before the first open().
    using Journal = std::function<void(const QVOSCMessage& message)>;
    void rehearse(Journal journal, bool alsoSend);

    // What became of a message handed on.
    enum class Delivery {
        sent,     // to the system, or in the connection's buffer
        held,     // a trigger turn kept over the connection's outage; see setHeldSentHandler
        notSent,  // nothing to send it with, no connection, or no room
    };

    // A trigger turn held over an outage stands for `slot` (its address when empty): the
    // newest of each slot is kept, so that mappings sharing an address each keep their own.
    Delivery send(std::shared_ptr<const QVOSCMessage> message, Kind kind, std::string slot = {});
    // Told, on the main thread, of each message held (the newest of its slot) when it goes after
    // all, once the connection is back; not of one that a new destination left behind.
    using HeldSentHandler =
        std::function<void(const QVOSCMessage& message, const std::string& slot)>;
    void setHeldSentHandler(HeldSentHandler handler) { heldSent_ = std::move(handler); }
    // Drops what is held for `slot`, whose sender is gone: nothing goes for it.
    void forget(const std::string& slot);
    // Whether messages go nowhere because the connection to the peer is down (also while it is
    // first being made); false over UDP.
    bool connectionDown() const { return connection_ && !connection_->isConnected(); }
    // Where the messages go; nothing while that is unknown.
    std::optional<NetworkEndpoint> endpoint() const;
    // Sends a reply back on the connection when the request being handled came on it; false
    // otherwise (a request that came as a datagram is answered with one, whatever its source).
    bool replyOnConnection(const QVOSCPacket& packet);
    // What the peer sends on a connection goes to `delegate`, as datagrams do from a listener.
    void setIncomingDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate);

    // The UDP sender; nothing over TCP.
    QVOSCSender* sender() const { return sender_.get(); }
    // Messages the system had no room for, over UDP and TCP alike.
    uint64_t droppedSends() const;
    // Why nothing can be sent, in words; empty when a sender or connection is open.
    const std::string& error() const { return error_; }
    // The connection's state in words ("connected to 10.0.0.5:5000"); empty over UDP.
    const std::string& connectionStatus() const { return connectionStatus_; }

  private:
    // Rehearsing without sending: nothing is looked up, opened or sent.
    bool offline() const { return journal_ && !alsoSend_; }
    void settingChanged(std::string_view key);
    // Notes a turn the connection holds over its outage, as the connection keeps it.
    void hold(std::shared_ptr<const QVOSCMessage> message, std::string slot);
    void hostAnswered(const HostResolver::Answer& answer);
    std::optional<StreamFraming> framing() const;
    void connectionReported(const std::string& status);

    MainLoop& mainLoop_;
    const SettingsModel& settings_;
    std::function<void()> changed_;
    HeldSentHandler heldSent_;
    Journal journal_;
    bool alsoSend_ = false;
    // What the connection keeps over its outage, to tell of once it has gone.
    // As the connection holds them: the newest of each slot, in the order they were made.
    struct Held {
        std::shared_ptr<const QVOSCMessage> message;
        std::string slot;
    };
    std::vector<Held> held_;
    std::unique_ptr<QVOSCSender> sender_;
    std::unique_ptr<TcpConnection> connection_;
    // The delegate the connection hands its packets to: it notes, while one is handled, that it
    // came on the connection.
    class ConnectionDelegate;
    std::shared_ptr<ConnectionDelegate> incomingDelegate_;
    std::shared_ptr<bool> handlingConnectionPacket_ = std::make_shared<bool>(false);
    std::optional<std::string> host_;
    std::optional<NetworkEndpoint> hostAddress_;
    // Why the host has no address yet, in words.
    std::string hostProblem_;
    std::string error_;
    std::string connectionStatus_;
    HostResolver hostResolver_;
    SettingsModel::Subscription subscription_;
};
