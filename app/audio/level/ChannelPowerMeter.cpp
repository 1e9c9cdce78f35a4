#include "app/audio/level/ChannelPowerMeter.h"

#include <algorithm>
#include <array>
#include <cmath>

void ChannelPowerMeter::reset(std::size_t channelCount) {
    std::lock_guard lock(mutex_);
    sumsOfSquares_.assign(channelCount, 0.0);
    peaks_.assign(channelCount, 0.0);
    frameCount_ = 0;
    last_ = {};
    emptyReadings_ = 0;
}

void ChannelPowerMeter::accumulate(const float* samples, std::size_t frameCount,
                                   std::size_t channelCount) {
    if (channelCount > kMaxChannels) {
        return;
    }
    // Summed outside the lock and without allocating: this runs on the audio thread.
    std::array<double, kMaxChannels> sums{};
    std::array<double, kMaxChannels> peaks{};
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            const double sample = samples[frame * channelCount + channel];
            sums[channel] += sample * sample;
            peaks[channel] = std::max(peaks[channel], std::fabs(sample));
        }
    }
    std::lock_guard lock(mutex_);
    if (channelCount != sumsOfSquares_.size()) {
        return;
    }
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
        sumsOfSquares_[channel] += sums[channel];
        peaks_[channel] = std::max(peaks_[channel], peaks[channel]);
    }
    frameCount_ += frameCount;
}

ChannelPowerMeter::Reading ChannelPowerMeter::take() {
    std::vector<double> sums;
    std::vector<double> peaks;
    std::size_t frames = 0;
    {
        std::lock_guard lock(mutex_);
        sums.assign(sumsOfSquares_.size(), 0.0);
        sums.swap(sumsOfSquares_);
        peaks.assign(peaks_.size(), 0.0);
        peaks.swap(peaks_);
        frames = frameCount_;
        frameCount_ = 0;
    }
    if (frames == 0 && last_.averagePower.size() == sums.size() && !last_.averagePower.empty() &&
        emptyReadings_ < kHeldEmptyReadings) {
        ++emptyReadings_;
        return last_;
    }
    Reading reading;
    reading.averagePower.reserve(sums.size());
    reading.samplePeak.reserve(sums.size());
    for (std::size_t channel = 0; channel < sums.size(); ++channel) {
        const bool none = frames == 0;
        reading.averagePower.push_back(
            none ? kSilenceDecibels
                 : decibelsOfMeanSquare(sums[channel] / static_cast<double>(frames)));
        reading.samplePeak.push_back(none ? kSilenceDecibels : decibelsOfPeak(peaks[channel]));
    }
    emptyReadings_ = 0;
    if (frames > 0) {
        last_ = reading;
    } else {
        last_ = {};
    }
    return reading;
}

std::size_t ChannelPowerMeter::channelCount() const {
    std::lock_guard lock(mutex_);
    return sumsOfSquares_.size();
}
