#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"
#include "transport/tcp/StreamFraming.h"
#include "transport/udp/DatagramHandOff.h"
#include "transport/udp/QVOSCDatagramDelegate.h"

// One TCP connection to a show-control peer that carries OSC packets both ways, for networks
// where a datagram sent once may be lost. It connects in the background and reconnects after a
// loss, waiting 0.25 s, then twice as long each time up to 1.25 s. All its work runs on the main
// loop: the socket never blocks, and a 5 ms timer polls it while it is open.
//
// What the kernel has not yet taken waits in a buffer of 64 KiB. Continuous values (a level that
// the next one replaces) are the first to go when it is full; a trigger turn is never dropped for
// one. A trigger turn that still does not fit makes room by dropping the oldest turns and replies
// not yet on the wire, so that the peer always ends in the newest state. While there is no
// connection, continuous values are not kept at all and only the newest trigger turn of each
// address is (several mappings each keep their state), to go out first once the connection is
// back, before "connected" is reported.
class TcpConnection {
  public:
    // The most addresses whose newest turn is kept over an outage (one per mapping and room).
    static constexpr size_t maximumHeldTurns = 32;

    enum class Kind {
        continuous,  // only the newest matters; dropped first
        trigger,     // a turn of a trigger: kept over an outage (the newest of its address), never
                     // dropped for a continuous value; older turns make room for it
        reply,       // an answer to something the peer sent: like a trigger while connected, but
                     // not kept over an outage, since the question went with the connection
    };

    struct Counters {
        // Continuous values dropped because the buffer was full.
        uint64_t droppedContinuous = 0;
        // Trigger turns and replies dropped because the buffer was full of them: older ones
        // making room for a trigger turn, or a reply that did not fit.
        uint64_t droppedTriggers = 0;
        // Continuous values and replies not sent because there was no connection.
        uint64_t unsentWhileDisconnected = 0;
        // Trigger turns made during an outage that a newer one of the same address replaced, or
        // that more than maximumHeldTurns addresses pushed out.
        uint64_t replacedTriggers = 0;
        // Packets from the peer dropped because too many waited for the delegate.
        uint64_t droppedReceived = 0;
    };

    // What became of a packet handed to send().
    enum class Outcome {
        queued,  // on its way: written, or waiting in the buffer
        held,    // a trigger turn kept over the outage, to go once the connection is back
        dropped,
    };

    using StatusHandler = std::function<void(const std::string& status)>;

    static constexpr size_t maximumBufferedBytes = size_t{64} << 10;
    static constexpr double pollIntervalSeconds = 0.005;
    static constexpr double firstRetrySeconds = 0.25;
    // A peer that comes back (a restarted show-control program) is found within about a second
    // and a half; an attempt on a network that refuses it at once costs next to nothing.
    static constexpr double longestRetrySeconds = 1.25;
    // A peer that does not answer at all (switched off, unplugged) is given up after this long,
    // rather than after the system's two minutes.
    static constexpr double connectTimeoutSeconds = 3.0;

    // Starts connecting to `peer`, an IPv4 or IPv6 address with its port; nothing for any other
    // address. `onStatus` gets "connecting to HOST:PORT", "connected to HOST:PORT" and
    // "connection to HOST:PORT lost: REASON" (also when an attempt fails), the first one before
    // this returns. It runs on the main thread and must not destroy the connection. Main thread.
    static std::unique_ptr<TcpConnection> connectionToEndpoint(const NetworkEndpoint& peer,
                                                               StreamFraming framing,
                                                               MainLoop& mainLoop,
                                                               StatusHandler onStatus);

    // Closes the connection without a status report; what is unsent is dropped.
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Frames the packet and sends it, or keeps or drops it as its kind says. Main thread.
    // A trigger turn held over an outage stands for its `slot` (its OSC address when empty): a
    // newer turn of the same slot replaces it, so that two mappings on one address each keep
    // their own.
    Outcome send(const QVOSCPacket& packet, Kind kind, std::string slot = {});
    // The same for a packet already encoded.
    Outcome sendBytes(QVOSCBytes packet, Kind kind, std::string slot = {});
    // Drops the turn held for `slot`, whose sender is gone: nothing goes for it once connected.
    void forget(std::string_view slot);

    // Gets each packet the peer sends, on the main thread, in order, with the peer as its
    // source when it is also a QVOSCSourcedDatagramDelegate; nothing unsets it.
    void setDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool isConnected() const { return state_ == State::connected; }
    // The last status reported.
    const std::string& status() const { return status_; }
    Counters counters() const;
    // Bytes framed but not yet taken by the kernel.
    size_t bufferedBytes() const { return bufferedBytes_; }
    const NetworkEndpoint& peer() const { return peer_; }
    StreamFraming framing() const { return framing_; }

  private:
    enum class State { waiting, connecting, connected };
    struct Outgoing {
        QVOSCData bytes;
        Kind kind;
        // What a trigger turn stands for, which a newer turn of the same slot replaces.
        std::string slot;
    };
    // Keeps `turn` to go once the connection is back, in place of an older one of its address.
    void hold(Outgoing turn);

    TcpConnection(const NetworkEndpoint& peer, StreamFraming framing, MainLoop& mainLoop,
                  StatusHandler onStatus);

    void report(std::string status);
    void startConnecting();
    void poll();
    void finishConnecting();
    void connected();
    void lose(const std::string& reason);
    void receive();
    void flush();
    // Drops the oldest packets that may go for one of `kind` until `size` more bytes fit: the
    // continuous values first, and for a trigger turn then the older turns and replies. False
    // when they cannot.
    bool makeRoom(size_t size, Kind kind);
    Outcome queue(QVOSCData framed, Kind kind, std::string slot);

    const NetworkEndpoint peer_;
    const std::string peerText_;
    const StreamFraming framing_;
    MainLoop& mainLoop_;
    const StatusHandler onStatus_;
    const std::shared_ptr<DatagramHandOff> handOff_;
    std::shared_ptr<QVOSCDatagramDelegate> delegate_;

    State state_ = State::waiting;
    int socket_ = -1;
    std::string status_;
    std::unique_ptr<RepeatingTimer> pollTimer_;
    std::unique_ptr<RepeatingTimer> retryTimer_;
    double retrySeconds_ = firstRetrySeconds;
    std::chrono::steady_clock::time_point connectStarted_;
    StreamDeframer deframer_;

    std::deque<Outgoing> outgoing_;
    size_t sentOfFront_ = 0;  // how much of the first outgoing packet the kernel has taken
    size_t bufferedBytes_ = 0;
    // Framed, in the order they were made: the newest turn of each address made during an outage.
    std::vector<Outgoing> heldTurns_;
    Counters counters_;
};
