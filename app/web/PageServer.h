#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QWebSocket>
#include <array>
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
// reads and changes nothing. Main thread only.
class PageServer : public QAbstractHttpServer {
    Q_OBJECT
  public:
    static constexpr size_t mostPages = 8;
    // A page's command is a few words; nothing longer is read.
    static constexpr quint64 largestMessage = 4096;
    // What may wait for a page: a few whole states. The system's buffer for each connection is
    // kept as small, so that a page that reads again gets a state at most this old.
    static constexpr qint64 largestBacklog = 48 * 1024;
    static constexpr int sendBufferBytes = 32 * 1024;
    // Where the page's connection is taken.
    static constexpr const char* livePath = "/live";

    struct Hooks {
        // A page came or went, or began or stopped keeping up.
        std::function<void()> pagesChanged;
        // What a page at `from` may do, the first message it gets; and the answer to each
        // message it sends.
        std::function<QByteArray(const QHostAddress& from)> access;
        std::function<QByteArray(const QByteArray& message, const QHostAddress& from)> answer;
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

    size_t pages() const { return pages_.size(); }
    // Pages that skip updates because their browser does not read.
    size_t pagesBehind() const;

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
        // The lasting messages it could not take when sent, by kind; empty when none waits.
        std::array<QByteArray, 2> waiting;
    };
    void takePages();
    void forget(QWebSocket* socket);
    // Whether the page takes no more now, telling the hooks when that changes.
    bool behind(Page& page);
    void send(Page& page, const QByteArray& message);
    void sendLasting(Page& page, Lasting kind, const QByteArray& message);

    Hooks hooks_;
    QHostAddress address_;
    quint16 port_ = 0;
    QByteArray setup_;
    std::vector<Page> pages_;
};
