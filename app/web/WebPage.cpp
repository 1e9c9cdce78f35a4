#include "app/web/WebPage.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>

#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"
#include "app/web/PageCommands.h"
#include "app/web/PageServer.h"
#include "app/web/PageState.h"

namespace {

namespace keys = settings_keys;

constexpr const char* defaultAddress = "127.0.0.1";

NetworkEndpoint endpointOf(const QHostAddress& address) {
    NetworkEndpoint endpoint;
    bool ipv4 = false;
    const quint32 four = address.toIPv4Address(&ipv4);
    if (ipv4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&endpoint.address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(four);
        endpoint.length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&endpoint.address);
        in6->sin6_family = AF_INET6;
        const Q_IPV6ADDR six = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, six.c, sizeof six.c);
        endpoint.length = sizeof(sockaddr_in6);
    }
    return endpoint;
}

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

}  // namespace

WebPage::WebPage(KestranoController& controller, SpectrumFeed& spectra)
    : controller_(controller), spectra_(spectra), access_(controller.settings()) {
    noteSpacing_.setSingleShot(true);
    noteSpacing_.setInterval(noteSpacing);
    QObject::connect(&noteSpacing_, &QTimer::timeout, [this] {
        if (noteDue_) {
            noteDue_ = false;
            noteSpacing_.start();
            writePageNote();
        }
    });
    spectrumRelease_.setSingleShot(true);
    spectrumRelease_.setInterval(spectrumKept);
    QObject::connect(&spectrumRelease_, &QTimer::timeout, [this] {
        if (!server_ || server_->pages() == 0) {
            spectrumHold_.reset();
            // The next analysis counts its spectra from one again.
            spectrum_ = {};
        }
    });
    subscription_ = controller_.settings().subscribe([this](std::string_view key) {
        if (key == keys::webPort || key == keys::webAddress) {
            serve();
        } else if (server_ && (key == keys::remoteControl || key == keys::remoteControlFrom)) {
            server_->sendAccess([this](const QHostAddress& from) { return accessMessage(from); });
        }
    });
    serve();
}

WebPage::~WebPage() {
    server_.reset();
    spectrumHold_.reset();
}

void WebPage::serve() {
    server_.reset();
    served_.clear();
    pagesChanged();
    const SettingsModel& settings = controller_.settings();
    const int64_t port = settings.whole(keys::webPort);
    if (port == 0) {
        controller_.setPageNote({});
        return;
    }
    const std::string addressText = settings.text(keys::webAddress).value_or(defaultAddress);
    QHostAddress address;
    if (!address.setAddress(text(addressText))) {
        controller_.setPageNote("no browser page: webAddress '" + addressText +
                                "' is not an address of this machine");
        return;
    }
    auto server = std::make_unique<PageServer>(PageServer::Hooks{
        .pagesChanged = [this] { pagesChanged(); },
        .countsChanged = [this] { showPages(); },
        .admitted = [this](const QHostAddress& from) { return readOnlyReason(from).empty(); },
        .access = [this](const QHostAddress& from) { return accessMessage(from); },
        .answer = [this](const QByteArray& message,
                         const QHostAddress& from) { return answer(message, from); },
    });
    const QUrl url(QStringLiteral("http://%1/")
                       .arg(address.protocol() == QAbstractSocket::IPv6Protocol
                                ? "[" + address.toString() + "]:" + QString::number(port)
                                : address.toString() + ":" + QString::number(port)));
    if (const std::optional<std::string> problem =
            server->listen(address, static_cast<quint16>(port))) {
        controller_.setPageNote("no browser page: cannot listen on " +
                                url.authority().toStdString() + ": " + *problem);
        return;
    }
    server_ = std::move(server);
    setupChanged_ = true;
    served_ = "browser page at " + url.toString().toStdString();
    pagesChanged();
}

void WebPage::pagesChanged() {
    const size_t pages = server_ ? server_->pages() : 0;
    // Made again for whoever came, as often as a second: the presets on disk may have changed
    // since the last setup.
    const auto now = std::chrono::steady_clock::now();
    if (now - setupForArrival_ >= std::chrono::seconds(1)) {
        setupForArrival_ = now;
        setupChanged_ = true;
    }
    if (pages > 0) {
        spectrumRelease_.stop();
        if (!spectrumHold_) {
            spectrumHold_ = spectra_.open(spectraPerSecond);
        }
    } else if (!server_) {
        spectrumRelease_.stop();
        spectrumHold_.reset();
        spectrum_ = {};
    } else if (spectrumHold_ && !spectrumRelease_.isActive()) {
        spectrumRelease_.start();
    }
    showPages();
}

void WebPage::showPages() {
    if (served_.empty()) {
        return;
    }
    if (noteSpacing_.isActive()) {
        noteDue_ = true;
        return;
    }
    noteSpacing_.start();
    writePageNote();
}

void WebPage::writePageNote() {
    if (served_.empty()) {
        return;
    }
    const size_t pages = server_ ? server_->pages() : 0;
    std::string note = served_;
    if (pages > 0) {
        note += " (" + std::to_string(pages) + (pages == 1 ? " page open" : " pages open");
        if (const size_t behind = server_->pagesBehind(); behind > 0) {
            note += ", " + std::to_string(behind) + " not keeping up: sent the newest state only";
        }
        note += ")";
    }
    // What was turned away since the page was served, so that a technician sees a stranger
    // knocking without a log line for each knock.
    if (server_) {
        const PageServer::Counts& counts = server_->counts();
        std::string turnedAway;
        const auto count = [&turnedAway](uint64_t number, const char* one, const char* many) {
            if (number > 0) {
                turnedAway += (turnedAway.empty() ? "" : ", ") + std::to_string(number) +
                              (number == 1 ? one : many);
            }
        };
        count(counts.pagesRefused, " page refused", " pages refused");
        count(counts.pagesDropped, " page dropped", " pages dropped");
        count(counts.commandsOverRate, " command over the rate", " commands over the rate");
        count(counts.requestsCut, " request cut off", " requests cut off");
        if (!turnedAway.empty()) {
            note += "; turned away: " + turnedAway;
        }
    }
    controller_.setPageNote(note);
}

void WebPage::controllerStatusChanged(const ControllerStatus& status) {
    if (status.presetListChanges != presetListChanges_) {
        presetListChanges_ = status.presetListChanges;
        setupChanged_ = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!server_ || server_->pages() == 0 || now - lastSent_ < shortestGap) {
        return;
    }
    lastSent_ = now;
    if (setupChanged_) {
        setupChanged_ = false;
        server_->sendSetup(pageSetupMessage(controller_));
    }
    const bool withSpectrum = spectra_.takeNewer(spectrum_);
    server_->sendToAll(pageStateMessage(controller_, withSpectrum ? &spectrum_ : nullptr));
}

std::string WebPage::readOnlyReason(const QHostAddress& from) const {
    if (!access_.on()) {
        return "read-only: remote control is off";
    }
    if (!access_.allows(endpointOf(from))) {
        return "read-only: " + from.toString().toStdString() + " is not in remoteControlFrom";
    }
    return {};
}

QByteArray WebPage::accessMessage(const QHostAddress& from) const {
    const std::string reason = readOnlyReason(from);
    return QJsonDocument(QJsonObject{{"kind", "access"},
                                     {"control", reason.empty()},
                                     {"readOnly", text(reason)}})
        .toJson(QJsonDocument::Compact);
}

QByteArray WebPage::answer(const QByteArray& message, const QHostAddress& from) {
    std::string refusal = readOnlyReason(from);
    if (refusal.empty()) {
        refusal = obeyPageCommand(message, controller_).value_or(std::string());
    } else {
        refusal = "refused: " + refusal;
    }
    return QJsonDocument(QJsonObject{{"kind", "answer"}, {"refused", text(refusal)}})
        .toJson(QJsonDocument::Compact);
}
