// Serves the browser page's load with each page server given, side by side over the same seconds:
// 2 and then 8 clients on each, every client loading the page once and then reading the state
// message 20 times a second on the live WebSocket. Prints, for each library and number of
// clients, the server's CPU seconds per minute of serving and its resident memory (the clients,
// all in this process, are not counted) and the lowest rate of state messages a client received.
//
//   web_server_bench SECONDS SERVER_PROGRAM...   (each program prints "PORT LIBRARY" when ready)
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "bench/web_server_load.h"

namespace {

constexpr int clientCounts[] = {2, 8};
constexpr int warmUpMs = 2000;
constexpr int readyMs = 20000;

struct Client {
    std::unique_ptr<QWebSocket> socket;
    bool pageLoaded = false;
    long frames = 0;
    long wrongFrames = 0;
};

struct Served {
    std::unique_ptr<QProcess> process;
    QString library;
    QString port;
    std::vector<std::unique_ptr<Client>> clients;
};

// Runs the event loop until `done` holds or the deadline passes; says whether it held.
bool runUntil(const std::function<bool()>& done, int milliseconds) {
    const QDeadlineTimer deadline(milliseconds);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || deadline.hasExpired()) {
            loop.quit();
        }
    });
    check.start(20);
    loop.exec();
    return done();
}

// Time on a CPU of every thread of the process, in nanoseconds where /proc/PID/stat counts 10 ms
// ticks.
double cpuSeconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double nanoseconds = 0.0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks + "/" + task + "/schedstat");
        if (schedstat.open(QIODevice::ReadOnly)) {
            nanoseconds += schedstat.readAll().split(' ').value(0).toDouble();
        }
    }
    return nanoseconds / 1e9;
}

double residentMegabytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:")) {
                return line.mid(6).simplified().split(' ').value(0).toDouble() / 1024.0;
            }
        }
    }
    return 0.0;
}

std::optional<Served> start(const QString& program) {
    Served served{
        .process = std::make_unique<QProcess>(), .library = {}, .port = {}, .clients = {}};
    served.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    served.process->start(program, {});
    if (!served.process->waitForReadyRead(readyMs)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(program));
        return std::nullopt;
    }
    const QString line = QString::fromUtf8(served.process->readLine()).trimmed();
    served.port = line.section(' ', 0, 0);
    served.library = line.section(' ', 1);
    return served;
}

// Loads the page as a browser does, then opens the live connection from the page's own origin.
void connectClient(Served& served, Client& client, QNetworkAccessManager& network) {
    const QString host = "127.0.0.1:" + served.port;
    QNetworkReply* reply = network.get(QNetworkRequest(QUrl("http://" + host + "/")));
    QObject::connect(reply, &QNetworkReply::finished, [reply, &client] {
        client.pageLoaded =
            reply->error() == QNetworkReply::NoError &&
            reply->readAll().size() == static_cast<qsizetype>(web_load::pageBody().size());
        reply->deleteLater();
    });
    client.socket = std::make_unique<QWebSocket>("http://" + host);
    const QByteArray state = QByteArray::fromStdString(web_load::stateMessage());
    QObject::connect(client.socket.get(), &QWebSocket::binaryMessageReceived,
                     [&client, state](const QByteArray& message) {
                         ++(message == state ? client.frames : client.wrongFrames);
                     });
    client.socket->open(QUrl("ws://" + host + web_load::livePath));
}

bool ready(const std::vector<Served>& servers) {
    return std::ranges::all_of(servers, [](const Served& served) {
        return std::ranges::all_of(served.clients, [](const auto& client) {
            return client->pageLoaded && client->frames > 0;
        });
    });
}

// One round: every server with `clients` clients, measured over the same `seconds`.
bool measure(const QStringList& programs, int clients, int seconds) {
    std::vector<Served> servers;
    QNetworkAccessManager network;
    for (const QString& program : programs) {
        std::optional<Served> served = start(program);
        if (!served) {
            return false;
        }
        servers.push_back(std::move(*served));
        for (int i = 0; i < clients; ++i) {
            servers.back().clients.push_back(std::make_unique<Client>());
            connectClient(servers.back(), *servers.back().clients.back(), network);
        }
    }
    if (!runUntil([&] { return ready(servers); }, readyMs)) {
        std::fprintf(stderr, "not every client loaded the page and got a state message\n");
        return false;
    }
    runUntil([] { return false; }, warmUpMs);
    std::vector<double> cpu;
    std::vector<std::vector<long>> frames;
    for (const Served& served : servers) {
        cpu.push_back(cpuSeconds(served.process->processId()));
        frames.emplace_back();
        for (const auto& client : served.clients) {
            frames.back().push_back(client->frames);
        }
    }
    QElapsedTimer clock;
    clock.start();
    runUntil([] { return false; }, seconds * 1000);
    const double measured = static_cast<double>(clock.elapsed()) / 1000.0;
    bool allRight = true;
    for (size_t s = 0; s < servers.size(); ++s) {
        const Served& served = servers[s];
        double lowestRate = 1e9;
        for (size_t c = 0; c < served.clients.size(); ++c) {
            const Client& client = *served.clients[c];
            lowestRate =
                std::min(lowestRate, static_cast<double>(client.frames - frames[s][c]) / measured);
            allRight = allRight && client.wrongFrames == 0;
        }
        const qint64 pid = served.process->processId();
        std::printf("%-28s %7d %9.2f %7.1f %14.1f\n", qPrintable(served.library), clients,
                    (cpuSeconds(pid) - cpu[s]) * 60.0 / measured, residentMegabytes(pid),
                    lowestRate);
    }
    for (Served& served : servers) {
        served.clients.clear();
        served.process->kill();
        served.process->waitForFinished();
    }
    if (!allRight) {
        std::fprintf(stderr, "a client received a message other than the state\n");
    }
    return allRight;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds = arguments.value(1).toInt();
    if (arguments.size() < 3 || seconds <= 0) {
        std::fprintf(stderr, "usage: web_server_bench SECONDS SERVER_PROGRAM...\n");
        return 2;
    }
    std::printf("%d s per round, the servers side by side; frames/s is the lowest client's\n",
                seconds);
    std::printf("%-28s %7s %9s %7s %14s\n", "library", "clients", "CPU s/min", "RSS MB",
                "frames/s");
    for (const int clients : clientCounts) {
        if (!measure(arguments.mid(2), clients, seconds)) {
            return 1;
        }
    }
    return 0;
}
