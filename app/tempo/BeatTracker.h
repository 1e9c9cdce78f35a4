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
#include "app/tempo/TempoInduction.h"

// Follows the beat of the sound a tap hands over, on a thread of its own: the onset novelty of
// the last seconds gives the tempo and the phase of a grid (see TempoInduction), and the newest
// state is kept for the main thread to take. Memory is bounded (one read of sound, a few seconds
// of novelty) and so is the work (one detector step per hop, one choice four times a second).
class BeatTracker {
  public:
    using Clock = SoundTap::Clock;

    // What the tracker knows now. Times are seconds of the steady clock (since its epoch).
    struct State {
        // The grid of the steady tempo heard; nothing before the tracker has locked, from the
        // start of a silence, and while unsure, until it has locked again.
        std::optional<BeatGrid> grid;
        // A tempo was had, and the last choices disagree (a change of song, a rubato passage):
        // the beats are held.
        bool unsure = false;
        // Whether the sound has been silent for silenceHold: beats stop, the tempo is kept.
        bool silent = false;
    };

    static constexpr double silenceHold = 2.0;

    // How the tracker keeps up with the tap: on a thread of its own that waits for the sound
    // (live), or on the tap's writer's thread as each piece is written (a replay, which feeds
    // faster than real time and must be heard exactly as fed, whatever the machine's load).
    enum class Pace { ownThread, asWritten };

    // `changed` runs on the tracker's thread when the state changed; it should post to the main
    // thread, where state() reads the newest one. At most one call is waiting to be taken at a
    // time: see state().
    // `minimumBpm` is the lower end of the range the grid's tempo is chosen in.
    BeatTracker(std::shared_ptr<const KestranoBeatFunctions> functions,
                std::shared_ptr<SoundTap> tap, double minimumBpm, std::function<void()> changed,
                Pace pace = Pace::ownThread);
    ~BeatTracker();
    BeatTracker(const BeatTracker&) = delete;
    BeatTracker& operator=(const BeatTracker&) = delete;

    // Any thread: the range's lower end from the next choice on.
    void setMinimum(double bpm);

    // The newest state; also allows the next `changed` call.
    State state();

  private:
    void run();
    // Hears every whole read the tap holds, without waiting: the asWritten pace.
    void hearWhatCame();
    // Hears one read of the tap's.
    void hear(const float* sound, const SoundTap::Block& block);
    // The frames one read takes.
    std::size_t readFrames() const;
    // Starts a new detector, with no novelty heard.
    void restart();
    // One hop of `factor_` times hopFrames frames, the first of them the tap's `firstFrame`.
    void step(const float* sound, std::uint64_t firstFrame);
    // Adds `seconds` of silence; whether the sound is silent now (for silenceHold or longer).
    bool waitedSilent(double seconds);
    // Places the input's frames on the clock from when a read's newest frame arrived; whether
    // the frames came after a gap in the capture, and are placed afresh.
    bool noteArrival(const SoundTap::Block& block);
    // The clock's seconds at the input's frame 0.
    double frameStart() const;
    // The beat `beat` (the input's seconds) of a choice at `period`, or the beat of the phase in
    // use nearest it while the choices have not agreed on another one for long.
    double keptPhase(double beat, double period);
    // Makes the state the newest for the main thread.
    void publish();

    std::atomic<double> minimum_;
    std::shared_ptr<const KestranoBeatFunctions> functions_;
    std::shared_ptr<SoundTap> tap_;
    std::function<void()> changed_;
    std::mutex mutex_;
    State published_;  // guarded by mutex_
    std::atomic<bool> told_{false};

    // The tracker thread's own.
    class Detector;
    std::unique_ptr<Detector> detector_;
    std::vector<float> hop_;
    double rate_ = 0.0;
    // The input's frames that make one frame of the tracker's.
    std::size_t factor_ = 1;
    std::uint64_t nextFrame_ = 0;
    std::deque<float> novelty_;
    // Each hop's loudness (its root mean square), beside its novelty.
    std::deque<float> loudness_;
    std::size_t sinceChoice_ = 0;
    std::deque<TempoChoice> choices_;
    // The newest beat of the phase in use, and of another one the choices tell, in the input's
    // seconds, with how many choices in a row told the other one.
    std::optional<double> phase_;
    std::optional<double> otherPhase_;
    int otherPhases_ = 0;
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
