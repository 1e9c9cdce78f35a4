#include "app/control/KestranoController.h"

#include <cerrno>
#include <cstring>

#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"
#include "transport/NetworkEndpointText.h"

namespace {

constexpr const char* loopbackHost = "127.0.0.1";

// An empty text stands for no value.
std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    return text && !text->empty() ? std::move(text) : std::nullopt;
}

}  // namespace

KestranoController::KestranoController(MainLoop& mainLoop, PreferencesStore& preferences,
                                       std::unique_ptr<AudioCapture> session, MonotonicClock clock)
    : session_(std::move(session)),
      mainLoop_(mainLoop),
      preferences_(preferences),
      clock_(std::move(clock)),
      hostResolver_(mainLoop, hostRetryInterval,
                    [this](const HostResolver::Answer& answer) { hostAnswered(answer); }) {}

void KestranoController::awakeFromNib() {
    setPreviewVolume(0.0f);
    session_->setDevicesChangedHandler([this] { refreshDevices(); });
    session_->setServerReconnectedHandler([this] { reselectAfterServerReconnected(); });
    session_->setInputFailedHandler(
        [this](const std::string& deviceName, const std::string& error) {
            inputFailed(deviceName, error);
        });
    inputChoice_ = InputChoice::fromStored(preferences_.stringForKey(settings_keys::inputDevice));
    selectInput(deviceForChoice(session_->audioInputDevices()));
    refreshDevices();
    session_->startRunning();

    audioLevelTimer_ =
        mainLoop_.scheduleRepeatingTimer(tickInterval, [this] { updateAudioLevels(); });
    currentPosition_ = 0.0f;
    fromZandorex_ =
        std::make_shared<DelegateWrapper>(this, &KestranoController::packetFromZandorex,
                                          &KestranoController::packetFromZandorexWithSource);

    useZandorexHost(preferences_.stringForKey(settings_keys::zandorexHost));
    const auto sendPort =
        static_cast<int32_t>(preferences_.integerForKey(settings_keys::zandorexSendPort));
    setZandorexSendPort(sendPort != 0 ? sendPort : defaultSendPort);
    lookUpZandorexHost();
    const auto listenPort =
        static_cast<int32_t>(preferences_.integerForKey(settings_keys::zandorexListenPort));
    listenAddress_ = nonEmpty(preferences_.stringForKey(settings_keys::listenAddress));
    remoteControl_ = preferences_.boolObjectForKey(settings_keys::remoteControl).value_or(false);
    setZandorexListenPort(listenPort != 0 ? listenPort : defaultListenPort);

    const float amplification = preferences_.floatForKey(settings_keys::volumeAmplification);
    setVolumeAmplification(amplification != 0.0f ? amplification : 1.0f);
    setActive(preferences_.boolObjectForKey(settings_keys::active).value_or(true));
    setType(static_cast<int32_t>(preferences_.integerForKey(settings_keys::type)));
    setAddress(preferences_.stringForKey(settings_keys::address).value_or(std::string()));
    setMinValue(preferences_.floatForKey(settings_keys::minValue));
    const float maximum = preferences_.floatForKey(settings_keys::maxValue);
    setMaxValue(maximum != 0.0f ? maximum : 10.0f);
    loadShapingSettings();
}

KestranoController::~KestranoController() {
    // Datagrams already posted to the main thread may still reach the wrapper.
    if (fromZandorex_) {
        fromZandorex_->setTarget(nullptr);
    }
    if (audioLevelTimer_) {
        audioLevelTimer_->invalidate();
    }
    session_->setDevicesChangedHandler(nullptr);
    session_->setServerReconnectedHandler(nullptr);
    session_->setInputFailedHandler(nullptr);
    session_->stopRunning();
    audioDevices_.clear();
    session_.reset();
    if (zandorexListener_) {
        zandorexListener_->stopListening();
        zandorexListener_.reset();
    }
    zandorexSender_.reset();
}

void KestranoController::setZandorexSendPort(int32_t port) {
    zandorexSendPort_ = port;
    preferences_.setInteger(settings_keys::zandorexSendPort, zandorexSendPort());
    openSender();
    propertyChanged(ControllerProperty::zandorexSendPort);
    statusChanged();
}

void KestranoController::setZandorexHost(std::optional<std::string> host) {
    useZandorexHost(std::move(host));
    preferences_.setString(settings_keys::zandorexHost, zandorexHost_);
    openSender();
    lookUpZandorexHost();
    propertyChanged(ControllerProperty::zandorexHost);
    statusChanged();
}

void KestranoController::useZandorexHost(std::optional<std::string> host) {
    zandorexHost_ = nonEmpty(std::move(host));
    zandorexHostAddress_.reset();
    hostProblem_.clear();
    hostResolver_.cancel();
    if (zandorexHost_) {
        hostProblem_ = "resolving " + *zandorexHost_;
    }
}

void KestranoController::lookUpZandorexHost() {
    if (zandorexHost_) {
        hostResolver_.resolve(*zandorexHost_);  // answers at once for a numeric address
    }
}

void KestranoController::hostAnswered(const HostResolver::Answer& answer) {
    if (!zandorexHost_ || answer.host != *zandorexHost_) {
        return;
    }
    zandorexHostAddress_ = answer.address;
    hostProblem_ =
        answer.address ? std::string() : "cannot resolve " + answer.host + ": " + answer.failure;
    openSender();
    statusChanged();
}

void KestranoController::openSender() {
    zandorexSender_.reset();
    const int32_t port = zandorexSendPort_;
    if (!zandorexHost_) {
        zandorexSender_ = QVOSCSender::senderWithDestinationHostName(loopbackHost, port, mainLoop_);
    } else if (zandorexHostAddress_) {
        zandorexSender_ = QVOSCSender::senderWithDestinationEndpoint(
            endpointOnPort(*zandorexHostAddress_, port), mainLoop_);
    } else {
        status_.senderError = hostProblem_;
        return;
    }
    status_.senderError = zandorexSender_ ? std::string() : sendFailure(port);
}

void KestranoController::setZandorexListenPort(int32_t port) {
    zandorexListenPort_ = port;
    preferences_.setInteger(settings_keys::zandorexListenPort, zandorexListenPort());
    openListener();
    propertyChanged(ControllerProperty::zandorexListenPort);
    statusChanged();
}

void KestranoController::setListenAddress(std::optional<std::string> address) {
    listenAddress_ = nonEmpty(std::move(address));
    preferences_.setString(settings_keys::listenAddress, listenAddress_);
    openListener();
    propertyChanged(ControllerProperty::listenAddress);
    statusChanged();
}

void KestranoController::setRemoteControl(bool enabled) {
    remoteControl_ = enabled;
    preferences_.setBool(settings_keys::remoteControl, enabled);
    propertyChanged(ControllerProperty::remoteControl);
}

void KestranoController::openListener() {
    const int32_t port = zandorexListenPort_;
    if (zandorexListener_) {
        zandorexListener_->stopListening();
        zandorexListener_.reset();
    }
    if (!listenAddress_) {
        zandorexListener_ = QVOSCListener::defaultListenerOnPort(port, mainLoop_);
        status_.listenerError = zandorexListener_ ? std::string() : listenFailure(port, errno);
    } else if (const auto local = numericEndpoint(*listenAddress_, port)) {
        zandorexListener_ = QVOSCListener::defaultListenerOnAddress(*local, mainLoop_);
        status_.listenerError = zandorexListener_
                                    ? std::string()
                                    : listenFailure(*listenAddress_, port, std::strerror(errno));
    } else {
        status_.listenerError = listenFailure(*listenAddress_, port, "not an IPv4 or IPv6 address");
    }
    if (zandorexListener_) {
        zandorexListener_->setDelegate(fromZandorex_);
    }
}

void KestranoController::save() {
    preferences_.setFloat(settings_keys::volumeAmplification, volumeAmplification_);
    preferences_.setBool(settings_keys::active, active_);
    preferences_.setInteger(settings_keys::type, type_);
    preferences_.setString(settings_keys::address, address_);
    preferences_.setFloat(settings_keys::minValue, minValue_);
    preferences_.setFloat(settings_keys::maxValue, maxValue_);
    saveShapingSettings();
    if (!status_.settingsNotices.empty()) {
        status_.settingsNotices.clear();
        statusChanged();
    }
}

void KestranoController::showSettingsNotices(std::vector<std::string> notices) {
    status_.settingsNotices = std::move(notices);
    statusChanged();
}

void KestranoController::setVolumeAmplification(float amplification) {
    volumeAmplification_ = amplification;
    propertyChanged(ControllerProperty::volumeAmplification);
}

void KestranoController::setActive(bool active) {
    active_ = active;
    propertyChanged(ControllerProperty::active);
}

void KestranoController::setType(int32_t type) {
    type_ = type;
    propertyChanged(ControllerProperty::type);
}

void KestranoController::setAddress(std::optional<std::string> address) {
    address_ = std::move(address);
    propertyChanged(ControllerProperty::address);
}

void KestranoController::setMinValue(float value) {
    minValue_ = value;
    propertyChanged(ControllerProperty::minValue);
}

void KestranoController::setMaxValue(float value) {
    maxValue_ = value;
    propertyChanged(ControllerProperty::maxValue);
}

void KestranoController::propertyChanged(ControllerProperty property) {
    if (observer_ != nullptr) {
        observer_->controllerPropertyChanged(property);
    }
}

void KestranoController::statusChanged() {
    if (observer_ != nullptr) {
        observer_->controllerStatusChanged(status_);
    }
}
