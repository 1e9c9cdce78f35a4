#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "app/audio/AudioCapture.h"
#include "app/shaping/MonotonicClock.h"
#include "app/shaping/TriggerGate.h"
#include "transport/MainLoop.h"

// Trigger mode's gate on the capture's thread, for the fast response: the level of each short
// fragment goes through the gate where it arrives, and only its turns go to the main thread,
// which sends them. So a turn waits for no tick, and the main thread does not wake for every
// fragment: the turns made meanwhile wait together, and one call at a time is posted for them.
// At most `maximumPending` turns wait; beyond that the two oldest go and are counted, so that a
// stalled main thread cannot make the queue grow and still hands on the newest state, with the
// turns on and off still alternating. A gate destroyed on the main thread hands on nothing more,
// also of what was already waiting.
class FastTriggerGate {
  public:
    static constexpr size_t maximumPending = 64;

    // What the gate needs of the settings; the main thread copies them in when one changes.
    struct Conditions {
        TriggerSettings trigger;
        float amplification = 1.0f;
        // Inactive, the gate follows the level without turning.
        bool active = true;
    };
    using TurnReceiver = std::function<void(TriggerGate::Change)>;

    // `clock` is read on the capture's thread.
    FastTriggerGate(MainLoop& mainLoop, MonotonicClock clock, TurnReceiver receiver);
    ~FastTriggerGate();
    FastTriggerGate(const FastTriggerGate&) = delete;
    FastTriggerGate& operator=(const FastTriggerGate&) = delete;

    // From the next fragment on.
    void setConditions(const Conditions& conditions);
    // From the first fragment that reaches a handler made after this call: handed to the capture
    // with new meters, it applies them exactly where the sound starts to be metered anew.
    void stageConditions(const Conditions& conditions);
    // Whether the trigger is on, and starting from a given state: the tick's gate and this one
    // hand the state over when the response changes, so that the change gives no spurious turn.
    bool isOn() const;
    void resume(bool on);

    // For the capture: called on its thread for every fragment; it takes the conditions staged
    // before it was made.
    AudioCapture::FragmentLevelHandler handler();
    // Turns dropped because too many waited.
    uint64_t dropped() const;

  private:
    struct Shared {
        MonotonicClock clock;
        TurnReceiver receiver;
        mutable std::mutex mutex;
        // Guarded by `mutex`.
        Conditions conditions;
        std::optional<Conditions> staged;
        // Counts the conditions staged; a handler knows the count when it was made.
        uint64_t stagedCount = 0;
        TriggerGate gate;
        std::deque<TriggerGate::Change> pending;
        // Whether a call to hand `pending` on is posted and has not yet taken it.
        bool posted = false;
        uint64_t dropped = 0;
        // Main thread only.
        bool alive = true;
    };

    // Main thread: hands on what waits.
    static void handOn(const std::shared_ptr<Shared>& shared);

    MainLoop& mainLoop_;
    std::shared_ptr<Shared> shared_;
};
