// The page's load served the way the program serves it, with Qt's HTTP server and the WebSockets
// it upgrades to on one port, on the main thread's event loop. Prints "PORT LIBRARY" on its first
// line, then serves on 127.0.0.1 until it is ended. For bench/web_server_libraries.sh.
#include <sys/prctl.h>

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

#include "bench/web_server_load.h"

namespace {

class PageLoadServer : public QAbstractHttpServer {
  public:
    PageLoadServer() {
        connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &PageLoadServer::take);
        connect(&tick_, &QTimer::timeout, this, &PageLoadServer::sendState);
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.start(web_load::interval);
    }

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
            // Taken only on the live path from the page's own origin, as the program does.
            return request.url().path() == QLatin1String(web_load::livePath) &&
                   request.value("origin").compare("http://" + request.value("host"),
                                                   Qt::CaseInsensitive) == 0;
        }
        if (request.method() != QHttpServerRequest::Method::Get || request.url().path() != "/") {
            return false;
        }
        makeResponder(request, socket).write(page_, "text/html; charset=utf-8");
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

  private:
    void take() {
        while (hasPendingWebSocketConnections()) {
            QWebSocket* page = nextPendingWebSocketConnection().release();
            if (page == nullptr) {
                return;
            }
            page->setParent(this);
            pages_.push_back(page);
            connect(page, &QWebSocket::disconnected, this, [this, page] {
                std::erase(pages_, page);
                page->deleteLater();
            });
        }
    }

    void sendState() {
        for (QWebSocket* page : pages_) {
            if (page->bytesToWrite() <= static_cast<qint64>(web_load::largestBacklog)) {
                page->sendBinaryMessage(state_);
                page->flush();
            }
        }
    }

    const QByteArray page_ = QByteArray::fromStdString(web_load::pageBody());
    const QByteArray state_ = QByteArray::fromStdString(web_load::stateMessage());
    std::vector<QWebSocket*> pages_;
    QTimer tick_;
};

}  // namespace

int main(int argc, char* argv[]) {
    // Goes with the bench that started it, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication application(argc, argv);
    PageLoadServer server;
    auto* listener = new QTcpServer(&server);
    if (!listener->listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(listener->errorString()));
        return 1;
    }
    server.bind(listener);
    std::printf("%u Qt %s\n", listener->serverPort(), qVersion());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
