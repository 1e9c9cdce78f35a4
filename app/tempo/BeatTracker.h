#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/audio/tap/SoundTap.h"
#include "app/tempo/BeatGrid.h"
#include "app/tempo/BeatModule.h"

// Follows the beat of the sound a tap hands over, on a thread of its own: the beats a tracker
// hears are fitted to a grid, and the newest state is kept for the main thread to take.
// Memory is bounded (one read of sound, a few seconds of beats) and so is the work (one tracker
// step per hop).
class BeatTracker {
  public:
    using Clock = SoundTap::Clock;

    // What the tracker knows now. Times are seconds of the steady clock (since its epoch).
    struct State {
        // The grid of the last beats heard; nothing before the tracker has locked, and from
        // the start of a silence until it has locked again.
        std::optional<BeatGrid> grid;
        // Whether the sound has been silent for silenceHold: beats stop, the tempo is kept.
        bool silent = false;
    };

    static constexpr double silenceHold = 2.0;

    // `changed` runs on the tracker's thread when the state changed; it should post to the main
    // thread, where state() reads the newest one. At most one call is waiting to be taken at a
    // time: see state().
    BeatTracker(std::shared_ptr<const KestranoBeatFunctions> functions,
                std::shared_ptr<SoundTap> tap, std::function<void()> changed);
    ~BeatTracker();
    BeatTracker(const BeatTracker&) = delete;
    BeatTracker& operator=(const BeatTracker&) = delete;

    // The newest state; also allows the next `changed` call.
    State state();

  private:
    void run();
    // Starts a new tracker whose first frame is the tap's `firstFrame`.
    void restart(std::uint64_t firstFrame);
    // One hop of `factor_` times hopFrames frames, the first of them the tap's `firstFrame`.
    void step(const float* sound, std::uint64_t firstFrame);
    // Adds `seconds` of silence; whether the sound is silent now (for silenceHold or longer).
    bool waitedSilent(double seconds);
    // Places the input's frames on the clock from when a read's newest frame arrived; whether
    // the frames came after a gap in the capture, and are placed afresh.
    bool noteArrival(const SoundTap::Block& block);
    // The clock's seconds at the input's frame 0.
    double frameStart() const;
    // Makes the state the newest for the main thread.
    void publish();

    std::shared_ptr<const KestranoBeatFunctions> functions_;
    std::shared_ptr<SoundTap> tap_;
    std::function<void()> changed_;
    std::mutex mutex_;
    State published_;  // guarded by mutex_
    std::atomic<bool> told_{false};

    // The tracker thread's own.
    class Tracker;
    std::unique_ptr<Tracker> tracker_;
    std::vector<float> hop_;
    double rate_ = 0.0;
    // The input's frames that make one frame of the tracker's.
    std::size_t factor_ = 1;
    std::uint64_t trackerStart_ = 0;  // the tap's count of the tracker's first frame
    std::uint64_t nextFrame_ = 0;
    std::deque<double> beats_;
    double silentFor_ = 0.0;
    // The earliest frame-0 time of the current span of arrivalMemory and of the one before.
    struct Earliest {
        double current = std::numeric_limits<double>::infinity();
        double previous = std::numeric_limits<double>::infinity();
        double since = -std::numeric_limits<double>::infinity();
    } earliest_;
    // Since when, and how early at the earliest, reads came later than the frames before them.
    struct Late {
        double start = 0.0;
        double since = 0.0;
    };
    std::optional<Late> late_;
    State state_;

    std::atomic<bool> ending_{false};
    std::thread thread_;
};
