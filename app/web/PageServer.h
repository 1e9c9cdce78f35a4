#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QTimer>
#include <QWebSocket>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Serves the browser page from the program's resources and keeps its live connections: at most
// `mostPages` at once, each fed the newest state only. A page whose browser does not read what
// it is sent (a tablet asleep, a stalled network) skips updates until it has taken what waits,
// so that nothing piles up and nothing waits for it. A WebSocket request from any origin but the
// page's own is refused before it is taken, and a page's messages are bounded. A request whose
// Host names neither the address served on nor, served on loopback or every address, localhost,
// is refused whole: a page elsewhere whose name was pointed at this machine (DNS rebinding)
// reads and changes nothing.
//
// Whatever a stranger on the show network sends is bounded before it costs the cues anything:
// a request's header by size and time before it is parsed, connections by count, a page's
// commands by rate and its answers like its states, a page that answers no ping is closed, and
// the sources remote control admits always get a page. What was turned away is counted, not
// logged line by line: a flood would otherwise flood the log too. Main thread only.
class PageServer : public QAbstractHttpServer {
    Q_OBJECT
  public:
    static constexpr size_t mostPages = 8;
    // Pages from one address that remote control does not admit. A technician may keep a few
    // tabs open, loopback included (remote control off admits nobody, not even this machine);
    // more is one stranger holding the slots.
    static constexpr size_t mostPagesPerAddress = 4;
    // A page's command is a few words; nothing longer is read.
    static constexpr quint64 largestMessage = 4096;
    // What may wait for a page: a few whole states. The system's buffer for each connection is
    // kept as small, so that a page that reads again gets a state at most this old.
    static constexpr qint64 largestBacklog = 48 * 1024;
    // Answers may wait beyond the states' bound by this much; a page that lets more wait does
    // not read, and is closed rather than buffered for.
    static constexpr qint64 answerRoom = 8 * 1024;
    static constexpr int sendBufferBytes = 32 * 1024;
    // What the program takes from a connection at once: a request's header, or a few of a
    // page's largest messages. The rest waits in the system, which slows the sender down.
    static constexpr qint64 readBufferBytes = 16 * 1024;
    // A request's header (a browser's is under 1 KiB); longer is answered 431.
    static constexpr qint64 largestHeader = 8 * 1024;
    // A request's header must be whole by then (a browser sends it at once); later is answered
    // 408.
    static constexpr std::chrono::milliseconds headerTime{10'000};
    // Open connections: all of them, those of sources remote control does not admit, and those
    // of one such address. The rest is kept for admitted sources, so that a stranger holding
    // connections never locks the operator out.
    static constexpr size_t mostConnections = 64;
    static constexpr size_t mostStrangerConnections = 48;
    static constexpr size_t mostConnectionsPerAddress = 16;
    // A page's commands: a tap, a preset, a field typed in come a few a second at most. A
    // burst is taken whole, then `commandsPerSecond`.
    static constexpr int commandsPerSecond = 10;
    static constexpr int commandBurst = 20;
    // Refused commands in a row after which the page is closed: no page sends that many.
    static constexpr int mostRefusedInARow = 100;
    // Each page is pinged this often (a browser answers by itself, even in a background tab);
    // one that was not heard from for `silentLimit` is gone (asleep, or off the network) and
    // closed, giving its slot back.
    static constexpr std::chrono::milliseconds pingEvery{10'000};
    static constexpr std::chrono::milliseconds silentLimit{30'000};
    // A closed connection the other end does not finish closing is cut after this.
    static constexpr std::chrono::milliseconds closeGrace{2'000};
    // Where the page's connection is taken.
    static constexpr const char* livePath = "/live";

    struct Hooks {
        // A page came or went, or began or stopped keeping up.
        std::function<void()> pagesChanged;
        // What was turned away changed; told at most once a second.
        std::function<void()> countsChanged;
        // Whether remote control admits `from`.
        std::function<bool(const QHostAddress& from)> admitted;
        // What a page at `from` may do, the first message it gets; and the answer to each
        // message it sends.
        std::function<QByteArray(const QHostAddress& from)> access;
        std::function<QByteArray(const QByteArray& message, const QHostAddress& from)> answer;
    };

    // What was turned away since the server started.
    struct Counts {
        // WebSocket requests refused: no slot, too many from one address, a foreign origin.
        uint64_t pagesRefused = 0;
        // Pages closed by the server: not reading, silent, too many commands, or making room
        // for an admitted source.
        uint64_t pagesDropped = 0;
        // Commands refused for coming faster than `commandsPerSecond`.
        uint64_t commandsOverRate = 0;
        // Connections cut before their request was answered: too many, header too long or too
        // slow, or a body (the page takes none).
        uint64_t requestsCut = 0;
    };

    explicit PageServer(Hooks hooks);
    ~PageServer() override;

    // Nothing when listening on `address` and `port` worked, otherwise why not.
    std::optional<std::string> listen(const QHostAddress& address, quint16 port);

    // What a page must have, the newest of each kind, even when it did not keep up for a while:
    // one it could not take now goes to it once it reads again.
    enum class Lasting { access, setup };

    // Sends `message` to every page that keeps up.
    void sendToAll(const QByteArray& message);
    // Sends every page the newest setup, now or once it reads again; a page that comes later
    // gets it first.
    void sendSetup(const QByteArray& message);
    // Sends each page its access, which `messageFor` makes for where the page is.
    void sendAccess(const std::function<QByteArray(const QHostAddress& from)>& messageFor);

    size_t pages() const;
    // Pages that skip updates because their browser does not read.
    size_t pagesBehind() const;
    const Counts& counts() const { return counts_; }

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    // Whether the request's Host names this server, with its port.
    bool forThisServer(const QHttpServerRequest& request) const;

    struct Page {
        // A child of the server: the last of them go with it.
        QWebSocket* socket;
        QHostAddress from;
        bool behind = false;
        // Closed or disconnected: skipped by every loop, erased on the next turn of the loop,
        // so that a page that goes while a loop walks the pages ends no loop early.
        bool gone = false;
        // The lasting messages it could not take when sent, by kind; empty when none waits.
        std::array<QByteArray, 2> waiting;
        std::chrono::steady_clock::time_point lastHeard;
        // The command rate's bucket: commands it may send now, refilled with time.
        double commandsLeft = commandBurst;
        std::chrono::steady_clock::time_point lastCommand;
        int refusedInARow = 0;
    };
    void takePages();
    // Takes the page's socket, or refuses it and tells it why.
    void take(std::unique_ptr<QWebSocket> socket);
    void hear(QWebSocket* socket, const QString& text);
    Page* find(QWebSocket* socket);
    void forget(QWebSocket* socket);
    // Closes a page the server gives up on, with why, and cuts its connection after `grace`
    // unless its browser closed it by then: a page that does not read never takes the close.
    void drop(Page& page, QWebSocketProtocol::CloseCode code, const QString& reason,
              std::chrono::milliseconds grace);
    // Erases the gone pages, once, on the next turn of the loop.
    void purgeLater();
    void ping();
    // Whether the page takes no more now, telling the hooks when that changes.
    bool behind(Page& page);
    void send(Page& page, const QByteArray& message);
    void sendLasting(Page& page, Lasting kind, const QByteArray& message);
    // A count changed: the hooks hear of it now, or at the end of the second.
    void counted();

    Hooks hooks_;
    // The TCP connection under a page, found by where it comes from.
    std::function<QTcpSocket*(const QHostAddress& from, quint16 port)> connectionFrom_;
    QHostAddress address_;
    quint16 port_ = 0;
    QByteArray setup_;
    // Each page where it was made, so that a page found stays valid while the list grows.
    std::vector<std::unique_ptr<Page>> pages_;
    bool purgeQueued_ = false;
    Counts counts_;
    QTimer pingTimer_;
    QTimer countsTimer_;
    bool countsUntold_ = false;
};
