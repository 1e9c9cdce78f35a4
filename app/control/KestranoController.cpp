#include "app/control/KestranoController.h"

#include <cerrno>

#include "app/control/SocketDiagnosis.h"
#include "app/settings/SettingsKeys.h"

namespace {

constexpr const char* loopbackHost = "127.0.0.1";

}  // namespace

KestranoController::KestranoController(MainLoop& mainLoop, PreferencesStore& preferences,
                                       std::unique_ptr<AudioCapture> session, MonotonicClock clock)
    : session_(std::move(session)),
      mainLoop_(mainLoop),
      preferences_(preferences),
      clock_(std::move(clock)) {}

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
        std::make_shared<DelegateWrapper>(this, &KestranoController::packetFromZandorex);

    const auto sendPort =
        static_cast<int32_t>(preferences_.integerForKey(settings_keys::zandorexSendPort));
    setZandorexSendPort(sendPort != 0 ? sendPort : defaultSendPort);
    const auto listenPort =
        static_cast<int32_t>(preferences_.integerForKey(settings_keys::zandorexListenPort));
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
    zandorexSender_.reset();
    zandorexSender_ = QVOSCSender::senderWithDestinationHostName(loopbackHost, port, mainLoop_);
    status_.senderError = zandorexSender_ ? std::string() : sendFailure(port);
    propertyChanged(ControllerProperty::zandorexSendPort);
    statusChanged();
}

void KestranoController::setZandorexListenPort(int32_t port) {
    zandorexListenPort_ = port;
    preferences_.setInteger(settings_keys::zandorexListenPort, zandorexListenPort());
    if (zandorexListener_) {
        zandorexListener_->stopListening();
        zandorexListener_.reset();
    }
    zandorexListener_ = QVOSCListener::defaultListenerOnPort(port, mainLoop_);
    const int listenError = errno;
    if (zandorexListener_) {
        zandorexListener_->setDelegate(fromZandorex_);
    }
    status_.listenerError = zandorexListener_ ? std::string() : listenFailure(port, listenError);
    propertyChanged(ControllerProperty::zandorexListenPort);
    statusChanged();
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
