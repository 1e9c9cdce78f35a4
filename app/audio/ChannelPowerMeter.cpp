#include "app/audio/ChannelPowerMeter.h"

#include <array>
#include <cmath>

namespace {

// -160 dBFS as a mean square; anything quieter reads as silence.
constexpr double kSilenceMeanSquare = 1e-16;

float decibelsOfMeanSquare(double meanSquare) {
    // The negated test also sends NaN (a broken stream) to the silence reading.
    if (!(meanSquare > kSilenceMeanSquare)) {
        return ChannelPowerMeter::kSilenceDecibels;
    }
    return static_cast<float>(10.0 * std::log10(meanSquare));
}

}  // namespace

void ChannelPowerMeter::reset(std::size_t channelCount) {
    std::lock_guard lock(mutex_);
    sumsOfSquares_.assign(channelCount, 0.0);
    frameCount_ = 0;
    lastDecibels_.clear();
    emptyReadings_ = 0;
}

void ChannelPowerMeter::accumulate(const float* samples, std::size_t frameCount,
                                   std::size_t channelCount) {
    if (channelCount > kMaxChannels) {
        return;
    }
    // Summed outside the lock and without allocating: this runs on the audio thread.
    std::array<double, kMaxChannels> sums{};
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            const double sample = samples[frame * channelCount + channel];
            sums[channel] += sample * sample;
        }
    }
    std::lock_guard lock(mutex_);
    if (channelCount != sumsOfSquares_.size()) {
        return;
    }
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
        sumsOfSquares_[channel] += sums[channel];
    }
    frameCount_ += frameCount;
}

std::vector<float> ChannelPowerMeter::takeDecibels() {
    std::vector<double> sums;
    std::size_t frames = 0;
    {
        std::lock_guard lock(mutex_);
        sums.assign(sumsOfSquares_.size(), 0.0);
        sums.swap(sumsOfSquares_);
        frames = frameCount_;
        frameCount_ = 0;
    }
    if (frames == 0 && lastDecibels_.size() == sums.size() && !lastDecibels_.empty() &&
        emptyReadings_ < kHeldEmptyReadings) {
        ++emptyReadings_;
        return lastDecibels_;
    }
    std::vector<float> decibels;
    decibels.reserve(sums.size());
    for (double sum : sums) {
        decibels.push_back(frames == 0 ? kSilenceDecibels
                                       : decibelsOfMeanSquare(sum / static_cast<double>(frames)));
    }
    emptyReadings_ = 0;
    if (frames > 0) {
        lastDecibels_ = decibels;
    } else {
        lastDecibels_.clear();
    }
    return decibels;
}

std::size_t ChannelPowerMeter::channelCount() const {
    std::lock_guard lock(mutex_);
    return sumsOfSquares_.size();
}
