#include "app/web/PageServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <array>

namespace {

struct PageFile {
    const char* path;
    const char* resource;
    const char* type;
};
constexpr std::array pageFiles{
    PageFile{"/", ":/web/index.html", "text/html; charset=utf-8"},
    PageFile{"/page.js", ":/web/page.js", "text/javascript; charset=utf-8"},
    PageFile{"/page.css", ":/web/page.css", "text/css; charset=utf-8"},
};

// Nothing but the page's own files and its own connection, so that text that slipped into the
// page could neither load nor send anything elsewhere.
constexpr const char* contentPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

bool isWebSocketRequest(const QHttpServerRequest& request) {
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

// A browser names the page that opened the connection in Origin; the page's own is the scheme and
// the host it was loaded from, which the same request names in Host.
bool fromOwnPage(const QHttpServerRequest& request) {
    const QByteArray host = request.value("host");
    return !host.isEmpty() &&
           request.value("origin").compare("http://" + host, Qt::CaseInsensitive) == 0;
}

// The host and port a Host header names: "name:port", "[v6]:port", or either without a port
// (then 80). Nothing when the port is not a number.
std::optional<std::pair<QString, quint16>> hostAndPort(const QByteArray& header) {
    const QString host = QString::fromLatin1(header).trimmed();
    const qsizetype colon = host.lastIndexOf(':');
    const qsizetype bracket = host.lastIndexOf(']');
    if (colon < 0 || colon < bracket) {
        return std::pair{host, quint16{80}};
    }
    bool number = false;
    const uint port = host.mid(colon + 1).toUInt(&number);
    if (!number || port > 65535) {
        return std::nullopt;
    }
    return std::pair{host.left(colon), static_cast<quint16>(port)};
}

bool servesEveryAddress(const QHostAddress& address) {
    return address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
           address == QHostAddress::AnyIPv6;
}

// Takes each connection's request header before Qt's parser sees it, so that what a stranger
// sends is bounded before it costs anything: the header must be whole within `largestHeader`
// bytes (else 431) and `headerTime` (else 408), and carry no body (the page takes none: 413);
// connections are capped by count, with room kept for the sources remote control admits. Only
// then is the connection handed to the HTTP server, its bytes still unread. Accepted connections
// get a small send buffer: what a page does not read waits in the program, where it is seen and
// bounded, rather than in megabytes of the system's.
class RequestGate : public QTcpServer {
  public:
    struct Calls {
        std::function<bool(const QHostAddress& from)> admitted;
        // A connection was cut before its request was answered.
        std::function<void()> cut;
    };

    explicit RequestGate(Calls calls) : calls_(std::move(calls)) {}
    ~RequestGate() override {
        // The sockets go after this; none may call back into it.
        for (const Open& open : open_) {
            if (open.socket) {
                open.socket->disconnect(this);
            }
        }
    }
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    // The open connection from `from`'s `port`, or none.
    QTcpSocket* connectionFrom(const QHostAddress& from, quint16 port) const {
        const auto found = std::ranges::find_if(open_, [&](const Open& open) {
            return open.socket && open.from == from && open.socket->peerPort() == port;
        });
        return found == open_.end() ? nullptr : found->socket.data();
    }

  protected:
    void incomingConnection(qintptr descriptor) override {
        const int bytes = PageServer::sendBufferBytes;
        setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(static_cast<int>(descriptor));
            delete socket;
            return;
        }
        const QHostAddress from = socket->peerAddress();
        const bool stranger = !calls_.admitted(from);
        // Qt's WebSocket classes drop every connection of a socket they let go of, so what
        // closed is found by looking rather than told.
        std::erase_if(open_, [](const Open& open) {
            return !open.socket || open.socket->state() == QAbstractSocket::UnconnectedState;
        });
        if (!roomFor(from, stranger)) {
            // Not a byte read or written: a flood of connections costs no more than accepting.
            calls_.cut();
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->setReadBufferSize(PageServer::largestHeader);
        Open& open = open_.emplace_back();
        open.socket = socket;
        open.from = from;
        open.stranger = stranger;
        open.deadline = new QTimer(socket);
        open.deadline->setSingleShot(true);
        connect(open.deadline, &QTimer::timeout, this,
                [this, socket] { refuse(socket, "408 Request Timeout"); });
        open.deadline->start(PageServer::headerTime);
        open.inspect =
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspect(socket); });
        // Counted until it is closed, whoever holds it by then (Qt's HTTP server or a page).
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

  private:
    struct Open {
        QPointer<QTcpSocket> socket;
        QHostAddress from;
        bool stranger = true;
        // Until the header is whole; gone once it was.
        QTimer* deadline = nullptr;
        QMetaObject::Connection inspect;
    };

    bool roomFor(const QHostAddress& from, bool stranger) const {
        if (open_.size() >= PageServer::mostConnections) {
            return false;
        }
        if (!stranger) {
            return true;
        }
        size_t strangers = 0;
        size_t fromThere = 0;
        for (const Open& open : open_) {
            strangers += open.stranger ? 1 : 0;
            fromThere += open.stranger && open.from == from ? 1 : 0;
        }
        return strangers < PageServer::mostStrangerConnections &&
               fromThere < PageServer::mostConnectionsPerAddress;
    }

    void inspect(QTcpSocket* socket) {
        if (!socket->isOpen()) {
            return;
        }
        // Peeked, not read: Qt's parser reads the same bytes once the header has passed.
        const QByteArray seen = socket->peek(PageServer::largestHeader);
        qsizetype end = seen.indexOf("\r\n\r\n");
        if (end < 0) {
            end = seen.indexOf("\n\n");
        }
        if (end < 0) {
            if (seen.size() >= PageServer::largestHeader) {
                refuse(socket, "431 Request Header Fields Too Large");
            }
            return;
        }
        if (hasBody(seen.left(end))) {
            refuse(socket, "413 Content Too Large");
            return;
        }
        Open* open = find(socket);
        if (open == nullptr) {
            return;
        }
        stopInspecting(*open);
        addPendingConnection(socket);
        // What arrived was only peeked: the parser, connected now, is told it is there.
        QTimer::singleShot(0, socket, [socket] {
            if (socket->isOpen() && socket->bytesAvailable() > 0) {
                Q_EMIT socket->readyRead();
            }
        });
    }

    static void stopInspecting(Open& open) {
        // Later: this may run in the deadline's own signal.
        if (open.deadline != nullptr) {
            open.deadline->stop();
            open.deadline->deleteLater();
            open.deadline = nullptr;
        }
        disconnect(open.inspect);
    }

    // Whether the header announces a body.
    static bool hasBody(const QByteArray& header) {
        for (const QByteArray& line : header.toLower().split('\n')) {
            const QByteArray field = line.trimmed();
            if (field.startsWith("transfer-encoding:")) {
                return true;
            }
            if (field.startsWith("content-length:") &&
                field.mid(int(sizeof "content-length:") - 1).trimmed() != "0") {
                return true;
            }
        }
        return false;
    }

    // Answers `status` and closes: the rest of what the client sends is read and thrown away
    // for a moment, so that the system does not reset the connection before the answer is read.
    void refuse(QTcpSocket* socket, const char* status) {
        Open* open = find(socket);
        if (open == nullptr) {
            return;
        }
        calls_.cut();
        stopInspecting(*open);
        socket->readAll();
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        socket->write(QByteArray("HTTP/1.1 ") + status +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->flush();
        ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
        QTimer::singleShot(PageServer::closeGrace, socket, [socket] { socket->abort(); });
    }

    Open* find(QTcpSocket* socket) {
        const auto found = std::ranges::find_if(
            open_, [socket](const Open& open) { return open.socket.data() == socket; });
        return found == open_.end() ? nullptr : &*found;
    }

    Calls calls_;
    std::vector<Open> open_;
};

}  // namespace

PageServer::PageServer(Hooks hooks) : hooks_(std::move(hooks)) {
    // Qt's HTTP server warns once for each WebSocket request it did not upgrade: a stranger
    // knocking would fill the log. They are counted in the status line instead.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &PageServer::takePages);
    pingTimer_.setInterval(pingEvery);
    connect(&pingTimer_, &QTimer::timeout, this, &PageServer::ping);
    pingTimer_.start();
    countsTimer_.setSingleShot(true);
    countsTimer_.setInterval(std::chrono::seconds(1));
    connect(&countsTimer_, &QTimer::timeout, this, [this] {
        if (countsUntold_) {
            countsUntold_ = false;
            countsTimer_.start();
            hooks_.countsChanged();
        }
    });
}

PageServer::~PageServer() {
    // The pages (taken, refused or closing) go with the server, after its own members: none may
    // call back into it.
    for (QWebSocket* socket : findChildren<QWebSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
    }
}

std::optional<std::string> PageServer::listen(const QHostAddress& address, quint16 port) {
    auto server = std::make_unique<RequestGate>(RequestGate::Calls{
        .admitted = [this](const QHostAddress& from) { return hooks_.admitted(from); },
        .cut =
            [this] {
                ++counts_.requestsCut;
                counted();
            },
    });
    if (!server->listen(address, port)) {
        return server->errorString().toStdString();
    }
    address_ = address;
    port_ = server->serverPort();
    connectionFrom_ = [gate = server.get()](const QHostAddress& from, quint16 port) {
        return gate->connectionFrom(from, port);
    };
    bind(server.release());
    return std::nullopt;
}

bool PageServer::forThisServer(const QHttpServerRequest& request) const {
    const std::optional<std::pair<QString, quint16>> named = hostAndPort(request.value("host"));
    if (!named || named->second != port_) {
        return false;
    }
    const bool anywhere = servesEveryAddress(address_);
    if (named->first.compare("localhost", Qt::CaseInsensitive) == 0) {
        return anywhere || address_.isLoopback();
    }
    // A name other than localhost is refused: the browser resolved it, maybe to us by a trick.
    QString literal = named->first;
    if (literal.startsWith('[') && literal.endsWith(']')) {
        literal = literal.mid(1, literal.size() - 2);
    }
    QHostAddress host;
    if (!host.setAddress(literal)) {
        return false;
    }
    if (anywhere) {
        return QNetworkInterface::allAddresses().contains(host);
    }
    // Served on one loopback address, the other names this machine as well.
    return host.isEqual(address_, QHostAddress::TolerantConversion) ||
           (address_.isLoopback() &&
            (host == QHostAddress::LocalHost || host == QHostAddress::LocalHostIPv6));
}

bool PageServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (!forThisServer(request)) {
        return false;
    }
    if (isWebSocketRequest(request)) {
        // Taken (true) only on the page's path from the page's own origin; refused otherwise.
        return request.url().path() == livePath && fromOwnPage(request);
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        return false;
    }
    const auto file = std::ranges::find(pageFiles, request.url().path(), [](const PageFile& file) {
        return QString::fromLatin1(file.path);
    });
    if (file == pageFiles.end()) {
        return false;
    }
    QFile resource(QString::fromLatin1(file->resource));
    if (!resource.open(QIODevice::ReadOnly)) {
        return false;
    }
    makeResponder(request, socket)
        .write(resource.readAll(), {{"Content-Type", file->type},
                                    {"Cache-Control", "no-store"},
                                    {"X-Content-Type-Options", "nosniff"},
                                    {"Referrer-Policy", "no-referrer"},
                                    {"Content-Security-Policy", contentPolicy},
                                    {"Connection", "close"}});
    // One request a connection: a second one would come past the gate's limits.
    socket->disconnectFromHost();
    return true;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (isWebSocketRequest(request)) {
        ++counts_.pagesRefused;
        counted();
    }
    if (!forThisServer(request)) {
        makeResponder(request, socket)
            .write("this page answers only to the address it is served on\n",
                   {{"Content-Type", "text/plain; charset=utf-8"}, {"Connection", "close"}},
                   QHttpServerResponder::StatusCode::MisdirectedRequest);
    } else {
        makeResponder(request, socket)
            .write({{"Connection", "close"}}, isWebSocketRequest(request)
                                                  ? QHttpServerResponder::StatusCode::Forbidden
                                                  : QHttpServerResponder::StatusCode::NotFound);
    }
    socket->disconnectFromHost();
}

void PageServer::takePages() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket) {
            return;
        }
        take(std::move(socket));
    }
}

void PageServer::take(std::unique_ptr<QWebSocket> owned) {
    QWebSocket* socket = owned.release();
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { forget(socket); });
    const QHostAddress from = socket->peerAddress();
    const bool admitted = hooks_.admitted(from);
    const auto live = [this] {
        std::vector<Page*> live;
        for (const std::unique_ptr<Page>& page : pages_) {
            if (!page->gone) {
                live.push_back(page.get());
            }
        }
        return live;
    };
    QString refusal;
    if (!admitted && std::ranges::count_if(live(), [&](const Page* page) {
                         return page->from == from && !hooks_.admitted(page->from);
                     }) >= static_cast<std::ptrdiff_t>(mostPagesPerAddress)) {
        refusal =
            QStringLiteral("at most %1 pages from one address that remote control does not admit")
                .arg(mostPagesPerAddress);
    } else if (live().size() >= mostPages && admitted) {
        // An admitted source displaces the newest read-only page rather than having slots kept
        // for it: with remote control off or few sources admitted, kept slots would stand empty
        // while every page is read-only, and a stranger could still take all the others.
        const std::vector<Page*> pages = live();
        const auto readOnly = std::find_if(pages.rbegin(), pages.rend(), [this](const Page* page) {
            return !hooks_.admitted(page->from);
        });
        if (readOnly != pages.rend()) {
            drop(**readOnly, QWebSocketProtocol::CloseCodePolicyViolated,
                 QStringLiteral("closed to make room for a page that may change the program"),
                 closeGrace);
        }
    }
    if (refusal.isEmpty() && live().size() >= mostPages) {
        refusal = QStringLiteral("at most %1 pages at once: close another to open this one")
                      .arg(mostPages);
    }
    if (!refusal.isEmpty()) {
        // Told why in words the page shows, then let go.
        ++counts_.pagesRefused;
        counted();
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
        QTimer::singleShot(closeGrace, socket, [socket] { socket->abort(); });
        return;
    }
    socket->setMaxAllowedIncomingFrameSize(largestMessage);
    socket->setMaxAllowedIncomingMessageSize(largestMessage);
    socket->setReadBufferSize(readBufferBytes);
    const auto now = std::chrono::steady_clock::now();
    pages_.push_back(std::make_unique<Page>(Page{.socket = socket,
                                                 .from = from,
                                                 .behind = false,
                                                 .gone = false,
                                                 .waiting = {},
                                                 .lastHeard = now,
                                                 .commandsLeft = commandBurst,
                                                 .lastCommand = now,
                                                 .refusedInARow = 0}));
    Page& page = *pages_.back();
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString& text) { hear(socket, text); });
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (Page* heard = find(socket)) {
            heard->lastHeard = std::chrono::steady_clock::now();
        }
    });
    // A page sends words only; anything else ends its connection.
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
        if (Page* sender = find(socket)) {
            drop(*sender, QWebSocketProtocol::CloseCodeDatatypeNotSupported, {}, closeGrace);
        }
    });
    // Qt answers each ping a page sends by itself, out of sight: what waits for the page is
    // checked as each piece of what it sends is read, so that pongs for a page that does not
    // read are bounded like its states and answers.
    if (QTcpSocket* connection = connectionFrom_(from, socket->peerPort())) {
        connect(connection, &QTcpSocket::readyRead, this, [this, socket] {
            Page* sender = find(socket);
            if (sender != nullptr && socket->bytesToWrite() > largestBacklog + answerRoom) {
                drop(*sender, QWebSocketProtocol::CloseCodePolicyViolated,
                     QStringLiteral("does not read what it is sent"), {});
            }
        });
    }
    sendLasting(page, Lasting::access, hooks_.access(from));
    if (!setup_.isEmpty() && !page.gone) {
        sendLasting(page, Lasting::setup, setup_);
    }
    hooks_.pagesChanged();
}

void PageServer::hear(QWebSocket* socket, const QString& text) {
    Page* page = find(socket);
    if (page == nullptr) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    page->lastHeard = now;
    const double seconds = std::chrono::duration<double>(now - page->lastCommand).count();
    page->lastCommand = now;
    page->commandsLeft =
        std::min<double>(commandBurst, page->commandsLeft + seconds * commandsPerSecond);
    QByteArray reply;
    if (page->commandsLeft < 1.0) {
        ++counts_.commandsOverRate;
        counted();
        if (++page->refusedInARow >= mostRefusedInARow) {
            drop(*page, QWebSocketProtocol::CloseCodePolicyViolated,
                 QStringLiteral("more than %1 commands a second").arg(commandsPerSecond), {});
            return;
        }
        if (page->refusedInARow > 1) {
            return;
        }
        // Said once, in the shape of any refused command's answer; the rest go unanswered.
        reply = QStringLiteral(
                    R"({"kind":"answer","refused":"refused: more than %1 commands a second"})")
                    .arg(commandsPerSecond)
                    .toUtf8();
    } else {
        page->commandsLeft -= 1.0;
        page->refusedInARow = 0;
        reply = hooks_.answer(text.toUtf8(), page->from);
        // The command may have changed the pages.
        page = find(socket);
        if (page == nullptr || reply.isEmpty()) {
            return;
        }
    }
    if (socket->bytesToWrite() > largestBacklog + answerRoom) {
        drop(*page, QWebSocketProtocol::CloseCodePolicyViolated,
             QStringLiteral("does not read its answers"), {});
        return;
    }
    socket->sendTextMessage(QString::fromUtf8(reply));
}

PageServer::Page* PageServer::find(QWebSocket* socket) {
    const auto found = std::ranges::find_if(pages_, [socket](const std::unique_ptr<Page>& page) {
        return page->socket == socket && !page->gone;
    });
    return found == pages_.end() ? nullptr : found->get();
}

void PageServer::forget(QWebSocket* socket) {
    if (Page* page = find(socket)) {
        page->gone = true;
        purgeLater();
        hooks_.pagesChanged();
    }
    socket->deleteLater();
}

void PageServer::drop(Page& page, QWebSocketProtocol::CloseCode code, const QString& reason,
                      std::chrono::milliseconds grace) {
    if (page.gone) {
        return;
    }
    page.gone = true;
    purgeLater();
    ++counts_.pagesDropped;
    QWebSocket* socket = page.socket;
    socket->close(code, reason);
    // A page that reads gets the close and its reason; one that does not is cut off.
    QTimer::singleShot(grace, socket, [socket] { socket->abort(); });
    hooks_.pagesChanged();
    counted();
}

void PageServer::purgeLater() {
    if (purgeQueued_) {
        return;
    }
    purgeQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            purgeQueued_ = false;
            std::erase_if(pages_, [](const std::unique_ptr<Page>& page) { return page->gone; });
        },
        Qt::QueuedConnection);
}

void PageServer::ping() {
    const auto now = std::chrono::steady_clock::now();
    // By index: a page dropped or gone here stays in the list until the next turn of the loop.
    for (size_t i = 0; i < pages_.size(); ++i) {
        Page& page = *pages_[i];
        if (page.gone) {
            continue;
        }
        if (now - page.lastHeard > silentLimit) {
            drop(page, QWebSocketProtocol::CloseCodePolicyViolated,
                 QStringLiteral("no answer for %1 s")
                     .arg(std::chrono::duration_cast<std::chrono::seconds>(silentLimit).count()),
                 {});
        } else {
            page.socket->ping();
        }
    }
}

bool PageServer::behind(Page& page) {
    const bool behind = page.socket->bytesToWrite() > largestBacklog;
    if (behind != page.behind) {
        page.behind = behind;
        hooks_.pagesChanged();
    }
    return behind;
}

void PageServer::send(Page& page, const QByteArray& message) {
    if (page.gone || behind(page)) {
        return;
    }
    for (QByteArray& waiting : page.waiting) {
        if (!waiting.isEmpty()) {
            page.socket->sendBinaryMessage(waiting);
            waiting.clear();
            // A write that failed closed the page.
            if (page.gone) {
                return;
            }
        }
    }
    // As bytes: the page reads them as UTF-8 text, and the message is not turned into UTF-16 and
    // back for every page.
    if (!message.isEmpty()) {
        page.socket->sendBinaryMessage(message);
        if (page.gone) {
            return;
        }
    }
    // Written now, in this turn of the loop, rather than on a wake-up of its own for each page.
    page.socket->flush();
}

void PageServer::sendLasting(Page& page, Lasting kind, const QByteArray& message) {
    page.waiting[static_cast<size_t>(kind)] = message;
    send(page, {});
}

// By index in each loop below: a page whose write fails goes while the loop walks the list, and
// is only marked gone then; the list is not changed under the loop.
void PageServer::sendToAll(const QByteArray& message) {
    for (size_t i = 0; i < pages_.size(); ++i) {
        send(*pages_[i], message);
    }
}

void PageServer::sendSetup(const QByteArray& message) {
    setup_ = message;
    for (size_t i = 0; i < pages_.size(); ++i) {
        sendLasting(*pages_[i], Lasting::setup, message);
    }
}

void PageServer::sendAccess(const std::function<QByteArray(const QHostAddress& from)>& messageFor) {
    for (size_t i = 0; i < pages_.size(); ++i) {
        Page& page = *pages_[i];
        if (!page.gone) {
            sendLasting(page, Lasting::access, messageFor(page.from));
        }
    }
}

size_t PageServer::pages() const {
    return static_cast<size_t>(std::ranges::count_if(
        pages_, [](const std::unique_ptr<Page>& page) { return !page->gone; }));
}

size_t PageServer::pagesBehind() const {
    return static_cast<size_t>(std::ranges::count_if(
        pages_, [](const std::unique_ptr<Page>& page) { return !page->gone && page->behind; }));
}

void PageServer::counted() {
    if (countsTimer_.isActive()) {
        countsUntold_ = true;
        return;
    }
    countsTimer_.start();
    hooks_.countsChanged();
}
