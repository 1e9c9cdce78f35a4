#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/DelegateWrapper.h"
#include "app/control/Destination.h"
#include "app/control/LevelIndicator.h"
#include "app/control/incoming/IncomingListener.h"
#include "app/control/input/CaptureFigures.h"
#include "app/control/input/InputSelection.h"
#include "app/control/mapping/MappingChains.h"
#include "app/control/tempo/TempoSending.h"
#include "app/remote/OscMonitor.h"
#include "app/remote/RemoteControl.h"
#include "app/settings/SettingsModel.h"
#include "app/settings/presets/PresetSwitch.h"
#include "app/shaping/MonotonicClock.h"
#include "osc/QVOSCMessage.h"
#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"
#include "transport/udp/QVOSCListener.h"

// Runs the program: meters the captured audio twenty times a second, maps the level to a value
// for each mapping, every one through its own chain, and sends it to Zandorex, listens for what
// Zandorex sends back, and keeps the settings (the first mapping's keys are also the properties
// below, under the names they have always had). Everything runs on the main thread.
// The work is done by its parts (the mappings' chains, the input, the tempo, the destination, the
// listener, remote control, the presets); the controller starts them in order, wires them to one
// another and to the observer, and answers for them under its own names.
class KestranoController {
  public:
    static constexpr int32_t defaultSendPort = 5000;
    static constexpr int32_t defaultListenPort = 5001;
    static constexpr double tickInterval = 0.05;

    // `session` is the capture the controller drives and owns; nothing starts before
    // awakeFromNib, which reads the settings from `preferences`. `clock` times the trigger delays
    // and the smoothing.
    KestranoController(MainLoop& mainLoop, PreferencesStore& preferences,
                       std::unique_ptr<AudioCapture> session,
                       MonotonicClock clock = std::chrono::steady_clock::now);
    // The orderly shut-down.
    virtual ~KestranoController();
    KestranoController(const KestranoController&) = delete;
    KestranoController& operator=(const KestranoController&) = delete;

    // Start-up, once, after the view has connected its meter and observer.
    void awakeFromNib();
    // Before start-up, for a rehearsal on a recording: listens on no port, and hands every
    // message to `journal` rather than to Zandorex (to both, with `alsoSend`).
    void rehearse(Destination::Journal journal, bool alsoSend);

    // The tick.
    void updateAudioLevels();
    void sendOSCMessageForPosition(float position);

    // Each port setter stores, persists and reopens, also for the current port.
    int32_t zandorexSendPort() const;
    void setZandorexSendPort(int32_t port);
    int32_t zandorexListenPort() const;
    void setZandorexListenPort(int32_t port);

    // Persists the settings that are kept until saving, the six that are not ports among them,
    // in one write. Nothing when that worked, otherwise why not (also in the status).
    std::optional<std::string> save();
    // More that was wrong with the stored settings; shown in the status until the next save.
    void addSettingsNotices(const std::vector<std::string>& notices);
    // A write of the settings that the file refused after the change was taken (the file is
    // written off the main thread), in the status as a refused save is.
    void settingsNotWritten(const std::string& failure);

    // Every setting, the ones beyond the properties below included: changes made through it
    // reach the parts that use them and the observer.
    SettingsModel& settings() { return settings_; }
    const SettingsModel& settings() const { return settings_; }

    // Audio devices.
    const std::vector<AudioDevice>& audioDevices() const { return input_.devices(); }
    void setAudioDevices(std::vector<AudioDevice> devices);
    // Reloads the list and selects what the technician's choice asks for now: a device that
    // appeared is taken, one that went is dropped, and a new default source is followed.
    void refreshDevices();
    std::optional<AudioDevice> selectedAudioDevice() const;
    // The technician's choice (nothing for "No input"): stored at once under "inputDevice" and
    // kept through device and sound server changes.
    void setSelectedAudioDevice(std::optional<AudioDevice> device);
    const InputChoice& inputChoice() const { return input_.choice(); }
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

    // Plain properties, held in the settings model.
    float currentPosition() const { return currentPosition_; }
    float volumeAmplification() const;
    void setVolumeAmplification(float amplification);
    bool active() const;
    void setActive(bool active);
    int32_t type() const;
    void setType(int32_t type);
    // Nothing is sent as the empty text.
    std::optional<std::string> address() const;
    void setAddress(std::optional<std::string> address);
    float minValue() const;
    void setMinValue(float value);
    float maxValue() const;
    void setMaxValue(float value);

    LevelIndicator* audioLevelMeter() const { return audioLevelMeter_; }
    void setAudioLevelMeter(LevelIndicator* meter) { audioLevelMeter_ = meter; }

    const std::shared_ptr<DelegateWrapper>& fromZandorex() const { return fromZandorex_; }
    const QVOSCListener* zandorexListener() const { return listener_.listener(); }
    const QVOSCSender* zandorexSender() const { return destination_.sender(); }
    AudioCapture* session() const { return session_.get(); }
    RepeatingTimer* audioLevelTimer() const { return audioLevelTimer_.get(); }

    // A tap of the tempo (the Tap button, the key T, /kestrano/tap): taken in tap mode, noted
    // as ignored in detect mode.
    void tapTempo();

    // The presets kept beside `settingsFile`; before start-up. Without it there are none.
    void usePresetsBeside(const QString& settingsFile);
    // Switches the live set-up to the preset `name` in one step for the sound, stored at once:
    // nothing when done, otherwise why not, and then nothing changed. A store that writes later
    // tells a refused write in the status, as "switched, not stored".
    std::optional<std::string> switchPreset(std::string_view name);
    // Stores the live set-up as the preset `name`: nothing when done, otherwise why not.
    std::optional<std::string> savePreset(std::string_view name);
    std::vector<std::string> presetNames() const;

    // The last datagrams in and out.
    OscMonitor& monitor() { return monitor_; }

    const ControllerStatus& status() const { return status_; }
    // Where the browser page is served, or why it cannot be, for the status line.
    void setPageNote(std::string note);
    // One observer at a time, not owned; nullptr for none.
    void setObserver(ControllerObserver* observer) { observer_ = observer; }

  private:
    // Tells the parts and the observer of a changed setting.
    void settingChanged(std::string_view key);
    // The loaded preset and its mark into the status.
    void showPreset(std::string_view key);
    // Counts a message as sent, in the status and the monitor.
    void messageSent(const QVOSCMessage& message);
    // The destination's state and trouble into the status.
    void showDestination();
    RemoteControl::Readings remoteReadings() const;
    void reply(const QVOSCPacket& packet, const NetworkEndpoint& destination);
    void propertyChanged(ControllerProperty property);
    void statusChanged();

    std::shared_ptr<DelegateWrapper> fromZandorex_;
    float currentPosition_ = 0.0f;
    LevelIndicator* audioLevelMeter_ = nullptr;
    std::unique_ptr<AudioCapture> session_;
    std::unique_ptr<RepeatingTimer> audioLevelTimer_;

    MainLoop& mainLoop_;
    MonotonicClock clock_;
    SettingsModel settings_;
    std::unique_ptr<PresetSwitch> presets_;
    SettingsModel::Subscription settingsSubscription_;
    // Until start-up has read the settings, their changes reach no part.
    bool awake_ = false;
    Destination destination_;
    RemoteControl remote_;
    ControllerObserver* observer_ = nullptr;
    ControllerStatus status_;
    OscMonitor monitor_;
    // Its first chain hears of the settings after the destination and remote control, and before
    // the controller.
    MappingChains mappings_;
    InputSelection input_;
    IncomingListener listener_;
    CaptureFigures captureFigures_;
    TempoSending tempo_;
    // Watched by what the store tells later, which must not reach a controller that is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>();
};
