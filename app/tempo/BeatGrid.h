#pragma once

#include <optional>
#include <span>

// The beats of a steady tempo: one beat's time and the period, in seconds on one clock.
struct BeatGrid {
    double anchor = 0.0;
    double period = 0.0;
};

// The tempo `bpm` folded by octaves into [minimum, 2·minimum): a tracker hears a loop at half or
// twice its tempo as readily as at it, and the technician's range decides which one is meant.
double foldTempo(double bpm, double minimum);

// The grid that best fits beat times (oldest first), each counted as the nearest whole number of
// `roughPeriod` from the newest; times more than a quarter period off that grid are left out.
// The fit's period is finer than the times' own resolution once several beats agree. Nothing
// with fewer than `minimumBeats` beats that fit.
std::optional<BeatGrid> fitBeatGrid(std::span<const double> times, double roughPeriod,
                                    int minimumBeats);

// When the next beat after one sent at `lastSent` (nothing for none) falls, at `period` apart,
// on `grid`: the beat one period after the last, moved onto the nearest grid point, or, without
// a recent last beat, the first beat of the sent period's grid after `now`. Never within half a
// period of the last beat; at most a quarter period before `now` (a beat just due, not yet sent).
double nextBeat(const BeatGrid& grid, double period, std::optional<double> lastSent, double now);
