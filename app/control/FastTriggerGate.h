#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "app/audio/AudioCapture.h"
#include "app/shaping/MonotonicClock.h"
#include "app/shaping/TriggerGate.h"
#include "transport/MainLoop.h"

// Trigger mode's gate on the capture's thread, for the fast response: the level of each short
// fragment goes through the gate where it arrives, and only a turn is posted to the main thread,
// which sends it. So a turn waits for no tick, and the main thread does not wake for every
// fragment. At most `maximumPending` turns wait at a time; beyond that a turn is dropped and
// counted, so a stalled main thread cannot make the queue grow. A gate destroyed on the main
// thread hands on nothing more, also of what was already posted.
class FastTriggerGate {
  public:
    static constexpr int maximumPending = 64;

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

    void setConditions(const Conditions& conditions);
    // Whether the trigger is on, and starting from a given state: the tick's gate and this one
    // hand the state over when the response changes, so that the change gives no spurious turn.
    bool isOn() const;
    void resume(bool on);

    // For the capture: called on its thread for every fragment.
    AudioCapture::FragmentLevelHandler handler();
    // Turns dropped because too many waited.
    uint64_t dropped() const { return shared_->dropped.load(std::memory_order_relaxed); }

  private:
    struct Shared {
        MonotonicClock clock;
        TurnReceiver receiver;
        mutable std::mutex mutex;
        // Guarded by `mutex`.
        Conditions conditions;
        TriggerGate gate;
        std::atomic<int> pending{0};
        std::atomic<uint64_t> dropped{0};
        // Main thread only.
        bool alive = true;
    };

    MainLoop& mainLoop_;
    std::shared_ptr<Shared> shared_;
};
