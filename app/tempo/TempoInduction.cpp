#include "app/tempo/TempoInduction.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The lags the octave families are judged over: five octaves from 0.1 s, every family has five
// members there.
constexpr double shortestLag = 0.1;
constexpr int octaves = 5;
// The local mean a rise is measured from: 0.1 s either side.
constexpr double meanReach = 0.1;
// Families closer than this (a share of the period) are one tempo, when the next best is sought.
constexpr double sameTempo = 0.1;
// A multiple's peak is sought this share either side of where the period puts it.
constexpr double peakReach = 0.02;
constexpr double shortestNovelty = 4.0;
// The comb that finds the phase looks this far back.
constexpr double phaseReach = 6.0;
// A tempo is only as sure as the novelty repeats: the winning family's correlation must come to
// this share of the novelty's own power (music's beats give 0.35 and more). A steady tone gives
// one onset as it starts, which dwarfs the rest of its novelty: the ripple of its cycles against
// the detector's hops, whose faint repeats at whatever lags would be beats nobody played.
constexpr double faintestRepeat = 0.1;

std::vector<double> rises(std::span<const float> novelty, double hopsPerSecond) {
    const auto reach = static_cast<std::ptrdiff_t>(std::lround(meanReach * hopsPerSecond));
    const auto count = static_cast<std::ptrdiff_t>(novelty.size());
    std::vector<double> out(novelty.size());
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, i - reach);
        const std::ptrdiff_t to = std::min(count, i + reach + 1);
        double sum = 0.0;
        for (std::ptrdiff_t j = from; j < to; ++j) {
            sum += novelty[static_cast<std::size_t>(j)];
        }
        out[static_cast<std::size_t>(i)] = std::max(
            0.0, novelty[static_cast<std::size_t>(i)] - sum / static_cast<double>(to - from));
    }
    return out;
}

// The mean product of the rises `lag` hops apart.
double correlation(const std::vector<double>& x, std::size_t lag) {
    double sum = 0.0;
    for (std::size_t i = 0; i + lag < x.size(); ++i) {
        sum += x[i] * x[i + lag];
    }
    return lag < x.size() ? sum / static_cast<double>(x.size() - lag) : 0.0;
}

// The correlation of every lag up to `longest`, each worked out when first asked for: the period
// is measured at full resolution around a few lags only.
class Correlations {
  public:
    Correlations(const std::vector<double>& x, std::size_t longest)
        : x_(x), r_(longest + 1, std::nullopt) {}
    std::size_t size() const { return r_.size(); }
    double operator[](std::size_t lag) {
        if (!r_[lag]) {
            r_[lag] = correlation(x_, lag);
        }
        return *r_[lag];
    }

  private:
    const std::vector<double>& x_;
    std::vector<std::optional<double>> r_;
};

// The highest correlation within peakReach of `lag`, and where it lies (to a fraction of a hop).
struct Peak {
    double value;
    double lag;
};
Peak peakNear(Correlations& r, double lag) {
    const auto last = static_cast<std::ptrdiff_t>(r.size()) - 2;
    const double reach = std::max(1.0, lag * peakReach);
    const auto from =
        std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(std::floor(lag - reach)));
    const auto to = std::min(last, static_cast<std::ptrdiff_t>(std::ceil(lag + reach)));
    Peak best{0.0, lag};
    for (std::ptrdiff_t at = from; at <= to; ++at) {
        const double value = r[static_cast<std::size_t>(at)];
        if (value > best.value) {
            best = {value, static_cast<double>(at)};
        }
    }
    // A parabola through the peak and its neighbours places it between hops.
    const auto at = static_cast<std::size_t>(best.lag);
    if (best.value > 0.0 && at >= 1 && at + 1 < r.size()) {
        const double left = r[at - 1], right = r[at + 1];
        const double bend = left - 2.0 * best.value + right;
        if (bend < 0.0) {
            best.lag += std::clamp(0.5 * (left - right) / bend, -0.5, 0.5);
        }
    }
    return best;
}

// The family of `base` (a lag in [shortest, 2·shortest)): the mean of its members' peaks.
double familyScore(Correlations& r, double base) {
    double sum = 0.0;
    for (int octave = 0; octave < octaves; ++octave) {
        sum += peakNear(r, base * std::ldexp(1.0, octave)).value;
    }
    return sum / octaves;
}

// The novelty at a fractional hop, between its neighbours.
double at(const std::vector<double>& x, double hop) {
    const auto below = static_cast<std::size_t>(std::floor(hop));
    const double part = hop - std::floor(hop);
    return below + 1 < x.size() ? x[below] * (1.0 - part) + x[below + 1] * part : x[below];
}

}  // namespace

std::optional<TempoChoice> chooseTempo(std::span<const float> novelty, double hopsPerSecond,
                                       double minimumBpm) {
    if (!(hopsPerSecond > 0.0) || !(minimumBpm > 0.0) ||
        static_cast<double>(novelty.size()) < shortestNovelty * hopsPerSecond) {
        return std::nullopt;
    }
    const std::vector<double> x = rises(novelty, hopsPerSecond);
    const double shortest = shortestLag * hopsPerSecond;
    const auto longest = static_cast<std::size_t>(
                             std::ceil(shortest * std::ldexp(1.0, octaves) * (1.0 + peakReach))) +
                         2;
    Correlations r(x, longest);
    if (!(r[0] > 0.0)) {
        return std::nullopt;
    }

    // The families are judged on the rises summed in pairs of hops, a quarter of the work: at
    // 11 ms a family is as clear. Every family, an eighth of a hop apart.
    std::vector<double> paired(x.size() / 2);
    for (std::size_t i = 0; i < paired.size(); ++i) {
        paired[i] = x[2 * i] + x[2 * i + 1];
    }
    Correlations coarse(paired, longest / 2 + 2);
    struct Family {
        double base, score;
    };
    std::vector<Family> families;
    for (double base = shortest / 2.0; base < shortest; base += 0.125) {
        families.push_back({2.0 * base, familyScore(coarse, base)});
    }
    const Family best =
        *std::max_element(families.begin(), families.end(),
                          [](const Family& a, const Family& b) { return a.score < b.score; });
    if (!(best.score > 0.0)) {
        return std::nullopt;
    }
    double rival = 0.0;
    for (const Family& family : families) {
        // Apart by octaves' fraction, around the circle of one octave.
        const double apart = std::abs(std::log2(family.base / best.base));
        if (std::min(apart, 1.0 - apart) > std::log2(1.0 + sameTempo)) {
            rival = std::max(rival, family.score);
        }
    }

    // The member in [minimum, 2·minimum), its period from the peaks of it and its multiples.
    const double longestPeriod = 60.0 / minimumBpm * hopsPerSecond;
    double member = best.base;
    while (member * 2.0 <= longestPeriod) {
        member *= 2.0;
    }
    while (member > longestPeriod) {
        member /= 2.0;
    }
    double lags = 0.0, multiples = 0.0;
    for (double multiple = 1.0;
         member * multiple * (1.0 + peakReach) + 2.0 < static_cast<double>(r.size());
         multiple *= 2.0) {
        const Peak peak = peakNear(r, member * multiple);
        if (peak.value > 0.0) {
            lags += peak.lag;
            multiples += multiple;
        }
    }
    const double period = multiples > 0.0 ? lags / multiples : member;

    // The phase: the comb over the last few seconds that meets the most rise, newest beat
    // counted from the newest hop.
    const double newest = static_cast<double>(x.size() - 1);
    const double reach = std::min(phaseReach * hopsPerSecond, newest);
    double bestBack = 0.0, bestSum = -1.0;
    for (double back = 0.0; back < period; back += 0.25) {
        double sum = 0.0;
        for (double hop = newest - back; hop >= newest - reach; hop -= period) {
            sum += at(x, hop);
        }
        if (sum > bestSum) {
            bestSum = sum;
            bestBack = back;
        }
    }
    const double confidence =
        best.score < faintestRepeat * coarse[0] ? 0.0 : 1.0 - rival / best.score;
    return TempoChoice{period / hopsPerSecond, bestBack / hopsPerSecond, confidence};
}
