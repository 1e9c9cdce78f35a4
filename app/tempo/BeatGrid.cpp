#include "app/tempo/BeatGrid.h"

#include <algorithm>
#include <cmath>
#include <vector>

double foldTempo(double bpm, double minimum) {
    if (!(bpm > 0.0) || !std::isfinite(bpm) || !(minimum > 0.0)) {
        return bpm;
    }
    while (bpm < minimum) {
        bpm *= 2.0;
    }
    while (bpm >= 2.0 * minimum) {
        bpm /= 2.0;
    }
    return bpm;
}

namespace {

struct Counted {
    double index;
    double time;
};

// The least-squares line through (index, time); nothing when the indices do not spread.
std::optional<BeatGrid> line(const std::vector<Counted>& beats) {
    const double count = static_cast<double>(beats.size());
    double sumIndex = 0.0, sumTime = 0.0;
    for (const Counted& beat : beats) {
        sumIndex += beat.index;
        sumTime += beat.time;
    }
    const double meanIndex = sumIndex / count, meanTime = sumTime / count;
    double spread = 0.0, together = 0.0;
    for (const Counted& beat : beats) {
        spread += (beat.index - meanIndex) * (beat.index - meanIndex);
        together += (beat.index - meanIndex) * (beat.time - meanTime);
    }
    if (spread <= 0.0) {
        return std::nullopt;
    }
    const double period = together / spread;
    // The anchor is the grid's point at index 0, the newest beat.
    return BeatGrid{meanTime - period * meanIndex, period};
}

}  // namespace

std::optional<BeatGrid> fitBeatGrid(std::span<const double> times, double roughPeriod,
                                    int minimumBeats) {
    if (times.empty() || !(roughPeriod > 0.0) || minimumBeats < 2) {
        return std::nullopt;
    }
    const double newest = times.back();
    std::vector<Counted> beats;
    for (const double time : times) {
        const double index = std::round((time - newest) / roughPeriod);
        if (std::abs(time - (newest + index * roughPeriod)) <= roughPeriod / 4.0) {
            beats.push_back({index, time});
        }
    }
    if (static_cast<int>(beats.size()) < minimumBeats) {
        return std::nullopt;
    }
    std::optional<BeatGrid> grid = line(beats);
    if (!grid || !(grid->period > 0.0)) {
        return std::nullopt;
    }
    // Once more without the beats the first fit puts far off its line.
    std::erase_if(beats, [&](const Counted& beat) {
        return std::abs(beat.time - (grid->anchor + beat.index * grid->period)) >
               grid->period / 8.0;
    });
    if (static_cast<int>(beats.size()) < minimumBeats) {
        return std::nullopt;
    }
    grid = line(beats);
    return grid && grid->period > 0.0 ? grid : std::nullopt;
}

double nextBeat(const BeatGrid& grid, double period, std::optional<double> lastSent, double now) {
    // The finer of the two periods: a folded tempo sends every other tracked beat, or one
    // between each two.
    const double step = std::min(grid.period, period);
    double next = 0.0;
    if (lastSent && now - *lastSent < 2.0 * period) {
        const double wanted = *lastSent + period;
        next = grid.anchor + std::round((wanted - grid.anchor) / step) * step;
        while (next - *lastSent < period / 2.0) {
            next += step;
        }
        // A beat just due goes now: the grid's news may come a moment before its beat's timer.
        while (next < now - period / 4.0) {
            next += period;
        }
        return next;
    }
    next = grid.anchor + std::ceil((now - grid.anchor) / step) * step;
    while (next <= now) {
        next += period;
    }
    return next;
}
