#include "app/control/KestranoController.h"

#include "app/settings/SettingsKeys.h"

namespace keys = settings_keys;

KestranoController::KestranoController(MainLoop& mainLoop, PreferencesStore& preferences,
                                       std::unique_ptr<AudioCapture> session, MonotonicClock clock)
    : session_(std::move(session)),
      mainLoop_(mainLoop),
      clock_(std::move(clock)),
      settings_(preferences),
      destination_(mainLoop, settings_,
                   [this] {
                       showDestination();
                       statusChanged();
                   }),
      remote_(
          settings_, clock_,
          RemoteControl::Hooks{
              [this] { return remoteReadings(); },
              [this](RemoteControl::Hooks::Answer answered) {
                  if (const std::optional<std::string> failure = save()) {
                      answered(failure);
                      return;
                  }
                  // Whoever asks after the write hears of its failure instead of the status:
                  // both are told here.
                  settings_.whenStored(
                      [this, alive = std::weak_ptr<int>(alive_),
                       answered = std::move(answered)](const std::optional<std::string>& failure) {
                          if (alive.expired()) {
                              return;
                          }
                          if (failure) {
                              settingsNotWritten(*failure);
                          }
                          answered(failure);
                      });
              },
              [this](const QVOSCPacket& packet, const NetworkEndpoint& to) { reply(packet, to); },
              [this] { tapTempo(); },
              [this](std::string_view name) { return switchPreset(name); },
              [this](std::string_view name) { return savePreset(name); },
              [this] { return presetNames(); },
          }),
      mappings_(settings_, mainLoop, clock_, *session_, destination_, status_,
                MappingChains::Hooks{
                    [this](const QVOSCMessage& message) { messageSent(message); },
                    [this] { statusChanged(); },
                }),
      input_(settings_, mainLoop, *session_, status_,
             InputSelection::Hooks{
                 [this](ControllerProperty property) { propertyChanged(property); },
                 [this] { statusChanged(); },
             }),
      listener_(settings_, mainLoop, remote_, destination_, status_),
      captureFigures_(*session_, status_),
      tempo_(settings_, mainLoop, clock_, *session_, destination_, status_,
             TempoSending::Hooks{
                 [this](const QVOSCMessage& message) { messageSent(message); },
                 [this] { statusChanged(); },
             }) {
    settingsSubscription_ =
        settings_.subscribe([this](std::string_view key) { settingChanged(key); });
    destination_.setHeldSentHandler([this](const QVOSCMessage& message, const std::string& slot) {
        if (tempo_.isTempoMessage(message)) {
            messageSent(message);
            return;
        }
        mappings_.heldSent(message, slot);
    });
}

void KestranoController::showDestination() {
    status_.senderError = destination_.error();
    status_.connection = destination_.connectionStatus();
    status_.connectionDown = destination_.connectionDown();
}

void KestranoController::rehearse(Destination::Journal journal, bool alsoSend) {
    destination_.rehearse(std::move(journal), alsoSend);
    listener_.keepClosed();
}

void KestranoController::awakeFromNib() {
    settings_.load();
    for (const std::string& notice : settings_.notices()) {
        status_.settingsNotices.push_back("settings: " + notice);
    }
    setPreviewVolume(0.0f);
    session_->setDevicesChangedHandler([this] { input_.refreshDevices(); });
    session_->setServerReconnectedHandler([this] { input_.serverReconnected(); });
    session_->setInputFailedHandler(
        [this](const std::string& deviceName, const std::string& error) {
            input_.inputFailed(deviceName, error);
        });
    mappings_.takeMappings();
    tempo_.takeMode();
    if (presets_) {
        presets_->takeStored();
    }
    showPreset(keys::preset);
    status_.remoteAccess = remote_.accessNote();
    input_.start();
    session_->startRunning();

    audioLevelTimer_ =
        mainLoop_.scheduleRepeatingTimer(tickInterval, [this] { updateAudioLevels(); });
    currentPosition_ = 0.0f;
    fromZandorex_ =
        std::make_shared<DelegateWrapper>(this, &KestranoController::packetFromZandorex,
                                          &KestranoController::packetFromZandorexWithSource);

    listener_.setDelegate(fromZandorex_);
    destination_.setIncomingDelegate(fromZandorex_);
    awake_ = true;
    destination_.followSettings();
    destination_.takeHost();
    setZandorexSendPort(zandorexSendPort());
    destination_.lookUpHost();
    setZandorexListenPort(zandorexListenPort());

    // The controller's own properties are held from here on, so that saving writes each of them.
    setVolumeAmplification(volumeAmplification());
    setActive(active());
    setType(type());
    setAddress(address().value_or(std::string()));
    setMinValue(minValue());
    setMaxValue(maxValue());
    // Every other setting shows in the observer as it was read.
    for (const SettingDefinition& setting : settingsCatalog()) {
        if (observer_ != nullptr) {
            observer_->controllerSettingChanged(setting.key);
        }
    }
    statusChanged();
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
    session_->setFragmentLevelHandler(nullptr);
    tempo_.stopBeatTracker();
    session_->stopRunning();
    session_.reset();
    listener_.close();
}

void KestranoController::settingChanged(std::string_view key) {
    if (!awake_) {
        return;
    }
    listener_.settingChanged(key);
    input_.settingChanged(key);
    tempo_.settingChanged(key);
    if (key == keys::mappings) {
        mappings_.takeMappings();
    }
    showPreset(key);
    // The remote control took the change first: it subscribed before the controller did.
    status_.remoteAccess = remote_.accessNote();
    mappings_.show();
    if (observer_ != nullptr) {
        observer_->controllerSettingChanged(key);
    }
    statusChanged();
}

int32_t KestranoController::zandorexSendPort() const {
    return static_cast<int32_t>(settings_.whole(keys::zandorexSendPort));
}

void KestranoController::setZandorexSendPort(int32_t port) {
    settings_.assign(keys::zandorexSendPort, int64_t{port});
}

int32_t KestranoController::zandorexListenPort() const {
    return static_cast<int32_t>(settings_.whole(keys::zandorexListenPort));
}

void KestranoController::setZandorexListenPort(int32_t port) {
    settings_.assign(keys::zandorexListenPort, int64_t{port});
}

std::optional<std::string> KestranoController::save() {
    std::optional<std::string> failure;
    if (!settings_.save()) {
        failure = settings_.writeError();
    }
    status_.settingsNotices.clear();
    if (failure) {
        status_.settingsNotices.push_back("settings not saved: " + *failure);
    }
    statusChanged();
    return failure;
}

void KestranoController::settingsNotWritten(const std::string& failure) {
    addSettingsNotices({"settings not saved: " + failure});
}

void KestranoController::addSettingsNotices(const std::vector<std::string>& notices) {
    status_.settingsNotices.insert(status_.settingsNotices.begin(), notices.begin(), notices.end());
    statusChanged();
}

float KestranoController::volumeAmplification() const {
    return settings_.decimal(keys::volumeAmplification);
}

void KestranoController::setVolumeAmplification(float amplification) {
    settings_.assign(keys::volumeAmplification, amplification);
}

bool KestranoController::active() const {
    return settings_.flag(keys::active);
}

void KestranoController::setActive(bool active) {
    settings_.assign(keys::active, active);
}

int32_t KestranoController::type() const {
    return static_cast<int32_t>(settings_.whole(keys::type));
}

void KestranoController::setType(int32_t type) {
    settings_.assign(keys::type, int64_t{type});
}

std::optional<std::string> KestranoController::address() const {
    const std::optional<SettingValue>& held = settings_.held(keys::address);
    return held ? std::optional(std::get<std::string>(*held)) : std::nullopt;
}

void KestranoController::setAddress(std::optional<std::string> address) {
    settings_.assign(keys::address,
                     address ? std::optional<SettingValue>(std::move(*address)) : std::nullopt);
}

float KestranoController::minValue() const {
    return settings_.decimal(keys::minValue);
}

void KestranoController::setMinValue(float value) {
    settings_.assign(keys::minValue, value);
}

float KestranoController::maxValue() const {
    return settings_.decimal(keys::maxValue);
}

void KestranoController::setMaxValue(float value) {
    settings_.assign(keys::maxValue, value);
}

void KestranoController::tapTempo() {
    tempo_.tap();
}

void KestranoController::propertyChanged(ControllerProperty property) {
    if (observer_ != nullptr) {
        observer_->controllerPropertyChanged(property);
    }
}

void KestranoController::setPageNote(std::string note) {
    if (note != status_.pageNote) {
        status_.pageNote = std::move(note);
        statusChanged();
    }
}

void KestranoController::messageSent(const QVOSCMessage& message) {
    ++status_.messagesSent;
    monitor_.record(MonitorEntry::Direction::out,
                    destination_.endpoint().value_or(NetworkEndpoint{}),
                    std::make_shared<const QVOSCData>(message.packetizedData()));
}

void KestranoController::statusChanged() {
    if (observer_ != nullptr) {
        observer_->controllerStatusChanged(status_);
    }
}
