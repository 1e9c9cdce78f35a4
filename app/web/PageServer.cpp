#include "app/web/PageServer.h"

#include <sys/socket.h>

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
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

// Accepted connections get a small send buffer: what a page does not read waits in the program,
// where it is seen and bounded, rather than in megabytes of the system's.
class SmallBufferServer : public QTcpServer {
  public:
    using QTcpServer::QTcpServer;

  protected:
    void incomingConnection(qintptr descriptor) override {
        const int bytes = PageServer::sendBufferBytes;
        setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        QTcpServer::incomingConnection(descriptor);
    }
};

}  // namespace

PageServer::PageServer(Hooks hooks) : hooks_(std::move(hooks)) {
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &PageServer::takePages);
}

PageServer::~PageServer() {
    // The pages go with the server, after its own members: none may call back into it.
    for (const Page& page : pages_) {
        page.socket->disconnect(this);
    }
}

std::optional<std::string> PageServer::listen(const QHostAddress& address, quint16 port) {
    auto server = std::make_unique<SmallBufferServer>();
    if (!server->listen(address, port)) {
        return server->errorString().toStdString();
    }
    address_ = address;
    port_ = server->serverPort();
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
                                    {"Content-Security-Policy", contentPolicy}});
    return true;
}

void PageServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (!forThisServer(request)) {
        makeResponder(request, socket)
            .write("this page answers only to the address it is served on\n",
                   "text/plain; charset=utf-8",
                   QHttpServerResponder::StatusCode::MisdirectedRequest);
        return;
    }
    makeResponder(request, socket)
        .write(isWebSocketRequest(request) ? QHttpServerResponder::StatusCode::Forbidden
                                           : QHttpServerResponder::StatusCode::NotFound);
}

void PageServer::takePages() {
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket) {
            return;
        }
        if (pages_.size() >= mostPages) {
            // Told why in words the page shows, then let go.
            QWebSocket* refused = socket.release();
            refused->setParent(this);
            refused->close(
                QWebSocketProtocol::CloseCodePolicyViolated,
                QStringLiteral("at most %1 pages at once: close another to open this one")
                    .arg(mostPages));
            connect(refused, &QWebSocket::disconnected, refused, &QObject::deleteLater);
            continue;
        }
        socket->setMaxAllowedIncomingFrameSize(largestMessage);
        socket->setMaxAllowedIncomingMessageSize(largestMessage);
        QWebSocket* page = socket.release();
        page->setParent(this);
        const QHostAddress from = page->peerAddress();
        pages_.push_back({.socket = page, .from = from, .behind = false, .waiting = {}});
        connect(page, &QWebSocket::textMessageReceived, this, [this, page](const QString& text) {
            const auto found = std::ranges::find(pages_, page, &Page::socket);
            if (found != pages_.end()) {
                const QByteArray answer = hooks_.answer(text.toUtf8(), found->from);
                if (!answer.isEmpty()) {
                    page->sendTextMessage(QString::fromUtf8(answer));
                }
            }
        });
        // A page sends words only; anything else ends its connection.
        connect(page, &QWebSocket::binaryMessageReceived, this,
                [page] { page->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported); });
        connect(page, &QWebSocket::disconnected, this, [this, page] { forget(page); });
        sendLasting(pages_.back(), Lasting::access, hooks_.access(from));
        if (!setup_.isEmpty()) {
            sendLasting(pages_.back(), Lasting::setup, setup_);
        }
        hooks_.pagesChanged();
    }
}

void PageServer::forget(QWebSocket* socket) {
    const auto found = std::ranges::find(pages_, socket, &Page::socket);
    if (found != pages_.end()) {
        pages_.erase(found);
        socket->deleteLater();
        hooks_.pagesChanged();
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
    if (behind(page)) {
        return;
    }
    for (QByteArray& waiting : page.waiting) {
        if (!waiting.isEmpty()) {
            page.socket->sendBinaryMessage(waiting);
            waiting.clear();
        }
    }
    // As bytes: the page reads them as UTF-8 text, and the message is not turned into UTF-16 and
    // back for every page.
    if (!message.isEmpty()) {
        page.socket->sendBinaryMessage(message);
    }
    // Written now, in this turn of the loop, rather than on a wake-up of its own for each page.
    page.socket->flush();
}

void PageServer::sendLasting(Page& page, Lasting kind, const QByteArray& message) {
    page.waiting[static_cast<size_t>(kind)] = message;
    send(page, {});
}

void PageServer::sendToAll(const QByteArray& message) {
    for (Page& page : pages_) {
        send(page, message);
    }
}

void PageServer::sendSetup(const QByteArray& message) {
    setup_ = message;
    for (Page& page : pages_) {
        sendLasting(page, Lasting::setup, message);
    }
}

void PageServer::sendAccess(const std::function<QByteArray(const QHostAddress& from)>& messageFor) {
    for (Page& page : pages_) {
        sendLasting(page, Lasting::access, messageFor(page.from));
    }
}

size_t PageServer::pagesBehind() const {
    return static_cast<size_t>(std::ranges::count_if(pages_, &Page::behind));
}
