#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/Destination.h"
#include "app/control/mapping/MappingChain.h"
#include "app/settings/SettingsModel.h"
#include "app/shaping/MonotonicClock.h"
#include "osc/QVOSCMessage.h"
#include "transport/MainLoop.h"

// Every mapping's chain, one per listed mapping and the unnamed one first, kept in the order of
// the list; what the capture meters for them and the fast gates its fragments feed; and the
// values they send to the destination. Everything runs on the main thread.
class MappingChains {
  public:
    struct Hooks {
        // A message of a mapping's value reached the sender or the open connection.
        std::function<void(const QVOSCMessage& message)> sent;
        // A fast turn was handed on between two ticks; the readings in the status changed.
        std::function<void()> turned;
    };

    // Makes the unnamed mapping's chain, which hears of its settings before anyone who
    // subscribes later. `status` receives every mapping's reading.
    MappingChains(const SettingsModel& settings, MainLoop& mainLoop, MonotonicClock clock,
                  AudioCapture& capture, Destination& destination, ControllerStatus& status,
                  Hooks hooks);
    MappingChains(const MappingChains&) = delete;
    MappingChains& operator=(const MappingChains&) = delete;

    // The unnamed mapping's chain, whose keys are the ones without a name.
    MappingChain& first() { return *chains_.front(); }
    const MappingChain& first() const { return *chains_.front(); }

    // Keeps one chain per listed mapping, in the order of the list: a mapping that stays keeps
    // its chain and its state. The first call also starts telling the capture what to meter.
    void takeMappings();

    // While a preset is taken, the chains follow each key as it is told; the capture changes its
    // meters and the gates they feed once, at releaseMetering, when `apply` says so.
    void holdMetering();
    void releaseMetering(bool apply);

    // The tick: each chain reads its meter of the capture's take (`readings`, in chain order).
    void levelsArrived(const std::vector<MeterReading>& readings, MonotonicTime now);

    // A turn the destination held over an outage went for `slot`.
    void heldSent(const QVOSCMessage& message, const std::string& slot);

    // Every mapping's reading into the status, the first one's also under the status's own names.
    void show();

  private:
    std::unique_ptr<MappingChain> makeChain(std::string name);
    // Gives the capture each chain's meter, and one fragment handler that hands each fast
    // chain's fragments to its gate.
    void applyMetering();
    // Hands one value of a mapping to the destination as a message to /zandorex/<address>.
    void sendValue(MappingChain& chain, const std::string& address, float value,
                   Destination::Kind kind);
    // Counts a message of one value of a mapping as sent.
    void valueSent(const QVOSCMessage& message, MappingChain& chain);

    const SettingsModel& settings_;
    MainLoop& mainLoop_;
    MonotonicClock clock_;
    AudioCapture& capture_;
    Destination& destination_;
    ControllerStatus& status_;
    Hooks hooks_;
    // One per listed mapping, the unnamed one first; never empty.
    std::vector<std::unique_ptr<MappingChain>> chains_;
    // From the first takeMappings() on, the capture meters what the chains ask for.
    bool metering_ = false;
    // While takeMappings() rebuilds chains_, which holds gaps meanwhile.
    bool takingMappings_ = false;
    // While a preset is taken: the capture gets the new meters and gates once, at its end.
    bool holdingMetering_ = false;
    // Meanwhile, the chains of mappings that left, whose gates the capture may still feed.
    std::vector<std::unique_ptr<MappingChain>> leavingChains_;
};
