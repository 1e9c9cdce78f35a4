#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/shaping/MonotonicClock.h"
#include "app/tempo/BeatGrid.h"
#include "app/tempo/TapTempo.h"
#include "app/tempo/TempoStatus.h"
#include "transport/MainLoop.h"

enum class TempoMode { off, detect, tap };

// The beat clock on the main loop: takes the tracker's grid (detect) or the taps' (tap), sends
// each beat when it falls, not when the tracker heard it, counting 1 to 4, and the tempo once on
// lock and on each move of half a BPM or more, at most twice a second.
class TempoClock {
  public:
    static constexpr double smallestTempoStep = 0.5;
    static constexpr double tempoMessageInterval = 0.5;

    struct Hooks {
        std::function<void(float bpm)> sendTempo;
        std::function<void(int32_t count)> sendBeat;
        // The status changed (a beat, the tempo, held).
        std::function<void()> changed;
    };

    TempoClock(MainLoop& mainLoop, MonotonicClock clock, Hooks hooks);

    // Starts afresh in `mode`: no tempo, no beats until one is found or tapped.
    void setMode(TempoMode mode);
    TempoMode mode() const { return mode_; }
    // The lower end of the range detected tempi are folded into.
    void setMinimum(double bpm);

    // Detect: the tracker's newest grid (seconds of the steady clock; nothing before a lock), and
    // whether the sound is silent or the tempo unsure: either stops the beats and holds the
    // tempo until a new lock.
    void trackerState(std::optional<BeatGrid> grid, bool silent, bool unsure);
    // A tap now. False when taps are not taken (not in tap mode).
    bool tap();

    const TempoStatus& status() const { return status_; }

  private:
    double now() const;
    // The grid in use changed: the tempo to tell, and the next beat.
    void follow(const BeatGrid& grid, double bpm);
    void schedule();
    void beat(double when);
    void stopBeats();

    MainLoop& mainLoop_;
    MonotonicClock clock_;
    Hooks hooks_;
    TempoMode mode_ = TempoMode::off;
    double minimum_ = 75.0;
    TapTempo taps_;
    std::optional<BeatGrid> grid_;
    // The period beats are sent at: the grid's at the folded tempo.
    double period_ = 0.0;
    std::optional<double> lastBeat_;
    std::optional<double> lastTempoSent_;
    double lastTempoSentAt_ = 0.0;
    std::unique_ptr<RepeatingTimer> timer_;
    TempoStatus status_;
};
