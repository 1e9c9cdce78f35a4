#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/Destination.h"
#include "app/settings/SettingsModel.h"
#include "app/shaping/MonotonicClock.h"
#include "app/tempo/BeatTracker.h"
#include "app/tempo/TempoClock.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "transport/MainLoop.h"

// The tempo and its beat for Zandorex: the beat clock in the mode of the settings, the tracker
// on the capture's sound while the tempo is detected, the taps, and the messages they make.
// Everything runs on the main thread but the tracker.
class TempoSending {
  public:
    struct Hooks {
        // A tempo or beat message reached the sender or the open connection.
        std::function<void(const QVOSCMessage& message)> sent;
        // The tempo's part of the status changed.
        std::function<void()> changed;
    };

    // `status` receives the tempo and its note.
    TempoSending(const SettingsModel& settings, MainLoop& mainLoop, MonotonicClock clock,
                 AudioCapture& capture, Destination& destination, ControllerStatus& status,
                 Hooks hooks);
    ~TempoSending();
    TempoSending(const TempoSending&) = delete;
    TempoSending& operator=(const TempoSending&) = delete;

    // Follows the tempo settings: the mode, the range, the channels listened to.
    void settingChanged(std::string_view key);
    // Starts the beat clock afresh in the mode of the settings, with a tracker in detect mode.
    void takeMode();
    // Taken in tap mode, noted as ignored in detect mode.
    void tap();
    // What a tempoChannels (or inputChannels) channel the input lacks means for the tempo.
    std::optional<std::string> channelsNote() const;
    // Whether `message` is the tempo's, which a connection held over an outage and sends now.
    bool isTempoMessage(const QVOSCMessage& message) const;
    // Takes the tracker's tap off the capture, before the capture stops.
    void stopBeatTracker();

  private:
    TempoClock::Hooks clockHooks();
    // Starts the tracker once the beat module is loaded: loading aubio and its codecs takes a
    // disk's time, which the main thread, sending the cues, never waits for.
    void startBeatTracker();
    // The channels the tracker listens to: tempoChannels, or else the first mapping's.
    std::vector<unsigned> trackedChannels() const;
    // Hands a tempo or beat message to the destination, whatever `active` says.
    void send(std::string_view addressKey, std::shared_ptr<QVOSCArgument> argument);

    const SettingsModel& settings_;
    MainLoop& mainLoop_;
    AudioCapture& capture_;
    Destination& destination_;
    ControllerStatus& status_;
    Hooks hooks_;
    TempoClock tempoClock_;
    // While tempo is detect: the capture's sound for the tracker, and the tracker.
    std::shared_ptr<SoundTap> tempoTap_;
    std::unique_ptr<BeatTracker> beatTracker_;
    // Calls the tracker posted hold a weak copy; one left behind by a gone tracker finds none.
    std::shared_ptr<int> trackerToken_;
    // Calls posted from the module's waiter find it gone once this is.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Waits for the beat module's first load and then asks the main thread to start the tracker.
    std::thread moduleWaiter_;
    // The system log hears of taps ignored once a run: a peer switching modes over and over
    // must not fill it with the same line.
    bool tapIgnoredLogged_ = false;
};
