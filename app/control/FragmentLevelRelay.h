#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/audio/AudioCapture.h"
#include "transport/MainLoop.h"

// Carries the level of each short fragment from the capture's thread to the main thread, where
// the trigger gate runs: each is posted through the main loop as it arrives, so that a turn does
// not wait for the tick. At most `maximumPending` wait at a time; beyond that a level is dropped
// and counted, so a stalled main thread cannot make the queue grow. A relay destroyed on the
// main thread hands on nothing more, also of what was already posted.
class FragmentLevelRelay {
  public:
    static constexpr int maximumPending = 64;
    using Receiver = std::function<void(float averagePowerDb, float samplePeakDb)>;

    FragmentLevelRelay(MainLoop& mainLoop, Receiver receiver);
    ~FragmentLevelRelay();
    FragmentLevelRelay(const FragmentLevelRelay&) = delete;
    FragmentLevelRelay& operator=(const FragmentLevelRelay&) = delete;

    // For the capture: called on its thread for every fragment.
    AudioCapture::FragmentLevelHandler handler();
    // Levels dropped because too many waited.
    uint64_t dropped() const { return shared_->dropped.load(std::memory_order_relaxed); }

  private:
    struct Shared {
        Receiver receiver;
        std::atomic<int> pending{0};
        std::atomic<uint64_t> dropped{0};
        // Main thread only.
        bool alive = true;
    };

    MainLoop& mainLoop_;
    std::shared_ptr<Shared> shared_;
};
