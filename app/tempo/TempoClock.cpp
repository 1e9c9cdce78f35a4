#include "app/tempo/TempoClock.h"

#include <algorithm>
#include <cmath>

TempoClock::TempoClock(MainLoop& mainLoop, MonotonicClock clock, Hooks hooks)
    : mainLoop_(mainLoop), clock_(std::move(clock)), hooks_(std::move(hooks)) {}

double TempoClock::now() const {
    return std::chrono::duration<double>(clock_().time_since_epoch()).count();
}

void TempoClock::setMode(TempoMode mode) {
    stopBeats();
    mode_ = mode;
    taps_ = TapTempo();
    grid_.reset();
    lastTempoSent_.reset();
    status_ = TempoStatus();
    hooks_.changed();
}

void TempoClock::setMinimum(double bpm) {
    minimum_ = bpm;
}

void TempoClock::trackerState(std::optional<BeatGrid> grid, bool silent, bool unsure) {
    if (mode_ != TempoMode::detect) {
        return;
    }
    if (silent || (unsure && !grid)) {
        stopBeats();
        if (status_.bpm && (status_.held != silent || status_.unsure != !silent)) {
            status_.held = silent;
            status_.unsure = !silent;
            hooks_.changed();
        }
        return;
    }
    // Held until the music that came back is locked.
    if (grid) {
        status_.held = false;
        status_.unsure = false;
        follow(*grid, foldTempo(60.0 / grid->period, minimum_));
    }
}

bool TempoClock::tap() {
    if (mode_ != TempoMode::tap) {
        return false;
    }
    if (const std::optional<BeatGrid> grid = taps_.tap(now())) {
        status_.tapped = true;
        follow(*grid, 60.0 / grid->period);
    }
    return true;
}

void TempoClock::follow(const BeatGrid& grid, double bpm) {
    grid_ = grid;
    period_ = 60.0 / bpm;
    status_.bpm = bpm;
    const double at = now();
    const bool moved = !lastTempoSent_ || std::abs(bpm - *lastTempoSent_) >= smallestTempoStep;
    if (moved && (!lastTempoSent_ || at - lastTempoSentAt_ >= tempoMessageInterval)) {
        lastTempoSent_ = bpm;
        lastTempoSentAt_ = at;
        hooks_.sendTempo(static_cast<float>(bpm));
    }
    schedule();
    hooks_.changed();
}

void TempoClock::schedule() {
    if (!grid_) {
        return;
    }
    const double at = now();
    const double when = nextBeat(*grid_, period_, lastBeat_, at);
    if (timer_) {
        timer_->invalidate();
    }
    timer_ =
        mainLoop_.scheduleRepeatingTimer(std::max(when - at, 0.0), [this, when] { beat(when); });
}

void TempoClock::beat(double when) {
    // Each timer fires once; the next beat gets a timer of its own.
    timer_->invalidate();
    lastBeat_ = when;
    status_.beat = status_.beat % 4 + 1;
    ++status_.beatsSent;
    hooks_.sendBeat(status_.beat);
    hooks_.changed();
    schedule();
}

void TempoClock::stopBeats() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
    lastBeat_.reset();
}
