#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/Destination.h"
#include "app/control/mapping/FastTriggerGate.h"
#include "app/settings/SettingsModel.h"
#include "app/shaping/LevelShaping.h"
#include "app/shaping/MonotonicClock.h"
#include "transport/MainLoop.h"

// One mapping from the input to the messages for Zandorex: its channel choice and band (the
// capture's meter it asks for), its level to a position, the smoothing or the gate (on the
// capture's thread in the fast response), and the value for its address. It reads its own scope
// of the settings, the first mapping's for the empty name, and follows them as they change.
// Everything runs on the main thread but the fast gate's handler.
class MappingChain {
  public:
    struct Hooks {
        // Hands a value on to /zandorex/<address>.
        std::function<void(MappingChain& chain, const std::string& address, float value,
                           Destination::Kind kind)>
            send;
        // What the chain asks of the capture changed: its meter, or its fragment handler.
        std::function<void()> meteringChanged;
    };

    MappingChain(std::string name, const SettingsModel& settings, MainLoop& mainLoop,
                 MonotonicClock clock, Hooks hooks);
    MappingChain(const MappingChain&) = delete;
    MappingChain& operator=(const MappingChain&) = delete;

    const std::string& name() const { return name_; }
    // Stands for this chain, whatever its name, where a turn is held over an outage.
    const std::string& slot() const { return slot_; }
    // The same mapping under another name, its keys already moved there.
    void rename(std::string name);
    // The model's key of one of this mapping's settings.
    std::string key(std::string_view setting) const { return scopedKey(name_, setting); }

    bool active() const;
    int64_t mode() const;
    float amplification() const;
    float minValue() const;
    float maxValue() const;
    std::string address() const;

    // What the capture meters for this mapping, from its settings and the response in use.
    MeterSettings meterSettings() const;
    // Whether trigger and silence turns come from the capture's fragments rather than the tick;
    // then fragmentHandler() is the gate's.
    bool fastResponse() const { return fastResponse_; }
    AudioCapture::FragmentLevelHandler fragmentHandler() { return fastGate_.handler(); }
    const LevelShaping& shaping() const { return shaping_; }
    // While a preset is taken, the fast gate's new conditions wait for the handler that comes
    // with the new meters, so that they apply from the first piece of sound metered the new way
    // and never to the old meters' last pieces. At the end, `applied` says whether that handler
    // was handed to the capture; if not, they apply now.
    void holdConditions() { holdingConditions_ = true; }
    void releaseConditions(bool applied);
    // A trigger that is on sends its off to where its on went: its mapping leaves, or its
    // address changed, and Zandorex must not keep that cue lit.
    void closeTurn();

    // The tick: the mapping's average power and sample peak in dBFS, nothing when its channels
    // gave no level (no input, a missing channel, or no frames since the previous tick).
    void levelArrived(std::optional<float> averagePowerDb, std::optional<float> samplePeakDb,
                      MonotonicTime now);
    void sendForPosition(float position, MonotonicTime now);
    // A value of this mapping reached the sender or the open connection.
    void valueSent(float value) { status_.lastValueSent = value; }
    const MappingStatus& status() const { return status_; }

  private:
    void settingChanged(std::string_view key);
    void takeSettings();
    // Turns the fast response on or off, handing the trigger's state between the two gates.
    void takeResponse();
    bool sendTurn(TriggerGate::Change change);
    void fastTurned(TriggerGate::Change change);
    FastTriggerGate::Conditions gateConditions() const;

    // Where the last on went and the off it asks for; nothing while the trigger is off.
    struct LitTurn {
        std::string address;
        float offValue = 0.0f;
    };

    std::string name_;
    std::string slot_;
    const SettingsModel& settings_;
    Hooks hooks_;
    LevelShaping shaping_;
    bool fastResponse_ = false;
    FastTriggerGate fastGate_;
    // In the fast response, the state of the last turn handed on, which is what the peer heard.
    bool fastOnHandedOn_ = false;
    bool holdingConditions_ = false;
    std::optional<LitTurn> lit_;
    MappingStatus status_;
    SettingsModel::Subscription subscription_;
};
