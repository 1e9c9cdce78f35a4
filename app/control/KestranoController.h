#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/DelegateWrapper.h"
#include "app/control/InputChoice.h"
#include "app/control/LevelIndicator.h"
#include "app/remote/OscMonitor.h"
#include "app/remote/RemoteRequest.h"
#include "app/settings/PreferencesStore.h"
#include "app/settings/SettingsCatalog.h"
#include "app/shaping/MonotonicClock.h"
#include "app/shaping/PositionSmoother.h"
#include "app/shaping/TriggerGate.h"
#include "osc/QVOSCMessage.h"
#include "osc/QVOSCPacket.h"
#include "transport/HostResolver.h"
#include "transport/MainLoop.h"
#include "transport/QVOSCListener.h"
#include "transport/QVOSCSender.h"

// Runs the program: meters the captured audio twenty times a second, maps the level to a value
// and sends it to Zandorex, listens for what Zandorex sends back, and keeps the settings.
// Everything runs on the main thread.
class KestranoController {
  public:
    static constexpr int32_t defaultSendPort = 5000;
    static constexpr int32_t defaultListenPort = 5001;
    static constexpr double tickInterval = 0.05;
    static constexpr double hostRetryInterval = 3.0;

    // `session` is the capture the controller drives and owns; nothing starts before
    // awakeFromNib. `clock` times the trigger delays and the smoothing.
    KestranoController(MainLoop& mainLoop, PreferencesStore& preferences,
                       std::unique_ptr<AudioCapture> session,
                       MonotonicClock clock = std::chrono::steady_clock::now);
    // The orderly shut-down.
    virtual ~KestranoController();
    KestranoController(const KestranoController&) = delete;
    KestranoController& operator=(const KestranoController&) = delete;

    // Start-up, once, after the view has connected its meter and observer.
    void awakeFromNib();

    // The tick.
    void updateAudioLevels();
    void sendOSCMessageForPosition(float position);

    // Where the messages go: nothing for the local host (127.0.0.1), otherwise a host name, an
    // IPv4 or an IPv6 address. A name is looked up off the main thread; nothing is sent until it
    // resolves. Stored at once, like the ports; an empty text stands for nothing.
    const std::optional<std::string>& zandorexHost() const { return zandorexHost_; }
    void setZandorexHost(std::optional<std::string> host);

    // Each port setter stores, persists and reopens, also for the current port.
    int32_t zandorexSendPort() const { return zandorexSendPort_; }
    void setZandorexSendPort(int32_t port);
    int32_t zandorexListenPort() const { return zandorexListenPort_; }
    void setZandorexListenPort(int32_t port);
    // The local address the listener binds: nothing for every IPv4 interface, otherwise one
    // numeric IPv4 or IPv6 address of this machine (127.0.0.1 refuses the network). Stored at once
    // and the listener reopened, like the listen port; an empty text stands for nothing.
    const std::optional<std::string>& listenAddress() const { return listenAddress_; }
    void setListenAddress(std::optional<std::string> address);

    // Whether messages to /kestrano/... at the listen port are obeyed (otherwise they only reach
    // decodeMessage, like any other). Stored at once.
    bool remoteControl() const { return remoteControl_; }
    void setRemoteControl(bool enabled);

    // Persists the six settings that are not ports.
    void save();
    // What was wrong with the stored settings; shown in the status until the next save.
    void showSettingsNotices(std::vector<std::string> notices);

    // Audio devices.
    const std::vector<AudioDevice>& audioDevices() const { return audioDevices_; }
    void setAudioDevices(std::vector<AudioDevice> devices);
    // Reloads the list and selects what the technician's choice asks for now: a device that
    // appeared is taken, one that went is dropped, and a new default source is followed.
    void refreshDevices();
    std::optional<AudioDevice> selectedAudioDevice() const;
    // The technician's choice (nothing for "No input"): stored at once under "inputDevice" and
    // kept through device and sound server changes.
    void setSelectedAudioDevice(std::optional<AudioDevice> device);
    const InputChoice& inputChoice() const { return inputChoice_; }
    // How the chosen device is named while it is absent and waited for; nothing otherwise.
    std::optional<std::string> awaitedDevice() const;
    float previewVolume() const;
    void setPreviewVolume(float volume);

    // The incoming route.
    void packetFromZandorex(std::shared_ptr<const QVOSCData> data);
    // The same with where the datagram came from: shown in the monitor, and the address that
    // answers to a remote-control request go to.
    void packetFromZandorexWithSource(std::shared_ptr<const QVOSCData> data,
                                      const NetworkEndpoint& source);
    void decodePacket(const std::shared_ptr<QVOSCPacket>& packet);
    // The hook for each incoming message; takes no action.
    virtual void decodeMessage(const QVOSCMessage& message);

    // Plain properties.
    float currentPosition() const { return currentPosition_; }
    float volumeAmplification() const { return volumeAmplification_; }
    void setVolumeAmplification(float amplification);
    bool active() const { return active_; }
    void setActive(bool active);
    int32_t type() const { return type_; }
    void setType(int32_t type);
    // Nothing is sent as the empty text.
    const std::optional<std::string>& address() const { return address_; }
    void setAddress(std::optional<std::string> address);
    float minValue() const { return minValue_; }
    void setMinValue(float value);
    float maxValue() const { return maxValue_; }
    void setMaxValue(float value);
    // Shaping of the position and the band that is metered; 0 means the key's default (see
    // triggerSettings() and the capture's band).
    float triggerOnThreshold() const { return triggerOnThreshold_; }
    void setTriggerOnThreshold(float threshold);
    float triggerOffThreshold() const { return triggerOffThreshold_; }
    void setTriggerOffThreshold(float threshold);
    int32_t triggerOnDelay() const { return triggerOnDelay_; }
    void setTriggerOnDelay(int32_t milliseconds);
    int32_t triggerOffDelay() const { return triggerOffDelay_; }
    void setTriggerOffDelay(int32_t milliseconds);
    int32_t attackTime() const { return attackTime_; }
    void setAttackTime(int32_t milliseconds);
    int32_t releaseTime() const { return releaseTime_; }
    void setReleaseTime(int32_t milliseconds);
    float bandLowCut() const { return bandLowCut_; }
    void setBandLowCut(float hertz);
    float bandHighCut() const { return bandHighCut_; }
    void setBandHighCut(float hertz);
    // The thresholds and delays trigger mode works with, defaults filled in.
    TriggerSettings triggerSettings() const;

    LevelIndicator* audioLevelMeter() const { return audioLevelMeter_; }
    void setAudioLevelMeter(LevelIndicator* meter) { audioLevelMeter_ = meter; }

    const std::shared_ptr<DelegateWrapper>& fromZandorex() const { return fromZandorex_; }
    const QVOSCListener* zandorexListener() const { return zandorexListener_.get(); }
    const QVOSCSender* zandorexSender() const { return zandorexSender_.get(); }
    AudioCapture* session() const { return session_.get(); }
    RepeatingTimer* audioLevelTimer() const { return audioLevelTimer_.get(); }

    // The last datagrams in and out.
    OscMonitor& monitor() { return monitor_; }

    const ControllerStatus& status() const { return status_; }
    // One observer at a time, not owned; nullptr for none.
    void setObserver(ControllerObserver* observer) { observer_ = observer; }

  private:
    // The device the choice asks for among `devices`, or nothing.
    std::optional<AudioDevice> deviceForChoice(const std::vector<AudioDevice>& devices);
    // Takes `host` as the destination, without an address yet.
    void useZandorexHost(std::optional<std::string> host);
    void lookUpZandorexHost();
    void hostAnswered(const HostResolver::Answer& answer);
    // Replaces the sender by one for the current destination, when it is known.
    void openSender();
    // Replaces the listener by one on the current listen address and port.
    void openListener();
    // Remote control.
    void obeyRemoteRequest(const QVOSCData& data, const NetworkEndpoint& source);
    // Nothing when done, otherwise what was wrong.
    std::optional<std::string> setRemotely(const std::string& key,
                                           const std::vector<RemoteArgument>& arguments);
    // What keeps a valid value from being taken now; nothing when it can be.
    std::optional<std::string> remoteConflict(const std::string& key,
                                              const SettingValue& value) const;
    void applySetting(std::string_view key, const SettingValue& value);
    std::optional<SettingValue> currentSettingValue(std::string_view key) const;
    void sendSettingValues(const NetworkEndpoint& destination);
    void reply(const QVOSCMessage& message, const NetworkEndpoint& destination);
    void selectInput(const std::optional<AudioDevice>& device);
    void reselectAfterServerReconnected();
    void inputFailed(const std::string& deviceName, const std::string& error);
    void showDeviceStatus();
    void showNoInput();
    // Once a second, from the tick: the listener's count of dropped datagrams into the status.
    void reportDroppedDatagrams();
    void loadShapingSettings();
    void saveShapingSettings();
    void propertyChanged(ControllerProperty property);
    void statusChanged();

    std::shared_ptr<DelegateWrapper> fromZandorex_;
    std::shared_ptr<QVOSCListener> zandorexListener_;
    std::unique_ptr<QVOSCSender> zandorexSender_;
    int32_t zandorexSendPort_ = 0;
    std::optional<std::string> zandorexHost_;
    std::optional<NetworkEndpoint> zandorexHostAddress_;
    // Why the host has no address yet, in words.
    std::string hostProblem_;
    int32_t zandorexListenPort_ = 0;
    std::optional<std::string> listenAddress_;
    bool remoteControl_ = false;
    float currentPosition_ = 0.0f;
    float volumeAmplification_ = 0.0f;
    bool active_ = false;
    int32_t type_ = 0;
    std::optional<std::string> address_;
    float minValue_ = 0.0f;
    float maxValue_ = 0.0f;
    float triggerOnThreshold_ = 0.0f;
    float triggerOffThreshold_ = 0.0f;
    int32_t triggerOnDelay_ = 0;
    int32_t triggerOffDelay_ = 0;
    int32_t attackTime_ = 0;
    int32_t releaseTime_ = 0;
    float bandLowCut_ = 0.0f;
    float bandHighCut_ = 0.0f;
    TriggerGate trigger_;
    PositionSmoother smoother_;
    LevelIndicator* audioLevelMeter_ = nullptr;
    std::unique_ptr<AudioCapture> session_;
    std::vector<AudioDevice> audioDevices_;
    std::unique_ptr<RepeatingTimer> audioLevelTimer_;

    MainLoop& mainLoop_;
    PreferencesStore& preferences_;
    MonotonicClock clock_;
    InputChoice inputChoice_;
    // Why the last selection found no input; empty when it did.
    std::string inputFailure_;
    ControllerObserver* observer_ = nullptr;
    ControllerStatus status_;
    int ticksSinceDropReport_ = 0;
    uint64_t droppedSeen_ = 0;
    int quietDropReports_ = 0;
    HostResolver hostResolver_;
    OscMonitor monitor_;
};
