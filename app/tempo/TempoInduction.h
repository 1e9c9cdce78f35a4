#pragma once

#include <optional>
#include <span>

// The tempo and beat phase of a few seconds of onset novelty (one value a hop, newest last).
//
// The novelty's rises above its local mean are autocorrelated. Each tempo is judged with its
// octaves together, at five of them (lags 0.1 s to 3.2 s): a band's beat repeats at the eighths,
// the beat, the half bar and the bar, while a pattern that merely recurs (three eighths of a
// double kick, say) repeats at its own length and its doubles but not between. The best octave
// family wins; `minimumBpm` then picks its member in [minimum, 2·minimum), and the phase is where
// a comb of that period meets the most novelty.
struct TempoChoice {
    // Seconds between beats, of the member in [minimum, 2·minimum).
    double period = 0.0;
    // Seconds from the newest hop back to the newest beat, in [0, period).
    double sinceBeat = 0.0;
    // How far the chosen family stands above the best other one: 0 (a tie, or repeats too faint
    // beside the novelty's own power to be a beat) to 1.
    double confidence = 0.0;
};

// Nothing for novelty too short (under four seconds) or without any rise.
std::optional<TempoChoice> chooseTempo(std::span<const float> novelty, double hopsPerSecond,
                                       double minimumBpm);
