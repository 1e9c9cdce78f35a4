#include "app/control/Destination.h"

#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"
#include "transport/NetworkEndpointText.h"

namespace keys = settings_keys;

namespace {

constexpr const char* loopbackHost = "127.0.0.1";

}  // namespace

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

void Destination::lookUpHost() {
    if (host_) {
        hostResolver_.resolve(*host_);  // answers at once for a numeric address
    }
}

void Destination::settingChanged(std::string_view key) {
    if (key == keys::zandorexHost) {
        takeHost();
        open();
        lookUpHost();
    } else if (key == keys::zandorexSendPort) {
        open();
    }
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

void Destination::open() {
    sender_.reset();
    const auto port = static_cast<int32_t>(settings_.whole(keys::zandorexSendPort));
    if (!host_) {
        sender_ = QVOSCSender::senderWithDestinationHostName(loopbackHost, port, mainLoop_);
    } else if (hostAddress_) {
        sender_ = QVOSCSender::senderWithDestinationEndpoint(endpointOnPort(*hostAddress_, port),
                                                             mainLoop_);
    } else {
        error_ = hostProblem_;
        return;
    }
    error_ = sender_ ? std::string() : sendFailure(port);
}
