#include "app/tempo/TapTempo.h"

#include <vector>

namespace {

// The taps a tempo is taken from; older ones of a long series are let go.
constexpr std::size_t keptTaps = 8;

}  // namespace

std::optional<BeatGrid> TapTempo::tap(double time) {
    if (!taps_.empty() && time >= taps_.back() && time - taps_.back() < shortestGap) {
        return std::nullopt;
    }
    if (!taps_.empty() && (time - taps_.back() > seriesGap || time < taps_.back())) {
        taps_.clear();
    }
    taps_.push_back(time);
    if (taps_.size() > keptTaps) {
        taps_.pop_front();
    }
    if (taps_.size() < static_cast<std::size_t>(tapsNeeded)) {
        return std::nullopt;
    }
    const std::vector<double> times(taps_.begin(), taps_.end());
    // Taps are each one beat apart: their mean spacing is the rough period, and every tap counts.
    const double rough = (times.back() - times.front()) / static_cast<double>(times.size() - 1);
    return fitBeatGrid(times, rough, tapsNeeded);
}
