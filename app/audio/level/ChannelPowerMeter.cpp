#include "app/audio/level/ChannelPowerMeter.h"

#include <algorithm>
#include <array>
#include <cmath>

void ChannelPowerMeter::reset(std::size_t channelCount) {
    std::lock_guard lock(mutex_);
    sumsOfSquares_.assign(channelCount, 0.0);
    peaks_.assign(channelCount, 0.0);
    frameCount_ = 0;
}

namespace {

// The sums of squares and the peaks of kChannels channels (or of `channelCount`, when 0), in
// locals: with the channel count known, the per-channel sums stay in registers.
template <std::size_t kChannels>
void sumFrames(const float* samples, std::size_t frameCount, std::size_t channelCount, double* sums,
               double* peaks) {
    const std::size_t channels = kChannels == 0 ? channelCount : kChannels;
    std::array<double, kChannels == 0 ? ChannelPowerMeter::kMaxChannels : kChannels> sum{}, peak{};
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const double sample = samples[frame * channels + channel];
            sum[channel] += sample * sample;
            peak[channel] = std::max(peak[channel], std::fabs(sample));
        }
    }
    std::copy_n(sum.begin(), channels, sums);
    std::copy_n(peak.begin(), channels, peaks);
}

}  // namespace

void ChannelPowerMeter::accumulate(const float* samples, std::size_t frameCount,
                                   std::size_t channelCount) {
    if (channelCount > kMaxChannels) {
        return;
    }
    // Summed outside the lock and without allocating: this runs on the audio thread.
    std::array<double, kMaxChannels> sums{};
    std::array<double, kMaxChannels> peaks{};
    if (channelCount == 2) {
        sumFrames<2>(samples, frameCount, channelCount, sums.data(), peaks.data());
    } else if (channelCount == 1) {
        sumFrames<1>(samples, frameCount, channelCount, sums.data(), peaks.data());
    } else {
        sumFrames<0>(samples, frameCount, channelCount, sums.data(), peaks.data());
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
    Reading reading;
    if (frames == 0) {
        return reading;
    }
    reading.averagePower.reserve(sums.size());
    reading.samplePeak.reserve(sums.size());
    for (std::size_t channel = 0; channel < sums.size(); ++channel) {
        reading.averagePower.push_back(
            decibelsOfMeanSquare(sums[channel] / static_cast<double>(frames)));
        reading.samplePeak.push_back(decibelsOfPeak(peaks[channel]));
    }
    return reading;
}

std::size_t ChannelPowerMeter::channelCount() const {
    std::lock_guard lock(mutex_);
    return sumsOfSquares_.size();
}
