#include "app/audio/level/LevelFigures.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// -160 dBFS as a mean square and as a magnitude; anything quieter reads as silence.
constexpr double kSilenceMeanSquare = 1e-16;
constexpr double kSilenceMagnitude = 1e-8;

}  // namespace

float decibelsOfMeanSquare(double meanSquare) {
    // The negated test also sends NaN to the silence reading.
    if (!(meanSquare > kSilenceMeanSquare)) {
        return kSilenceDecibels;
    }
    return static_cast<float>(10.0 * std::log10(meanSquare));
}

float decibelsOfPeak(double magnitude) {
    if (!(magnitude > kSilenceMagnitude)) {
        return kSilenceDecibels;
    }
    return static_cast<float>(20.0 * std::log10(magnitude));
}

void FragmentSums::add(const float* samples, std::size_t frameCount, std::size_t channelCount,
                       std::uint32_t channels) {
    if (channelCount > squares_.size()) {
        return;
    }
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            if ((channels >> channel & 1u) == 0) {
                continue;
            }
            const double sample = samples[frame * channelCount + channel];
            squares_[channel] += sample * sample;
            peak_ = std::max(peak_, std::fabs(sample));
        }
    }
    frames_ += frameCount;
}

FragmentLevel FragmentSums::level(std::size_t channelCount, std::uint32_t channels) const {
    if (channelCount > squares_.size()) {
        return {};
    }
    return levelOfSums(squares_.data(), peak_, frames_, channelCount, channels);
}

FragmentLevel levelOfSums(const double* squares, double peak, std::size_t frameCount,
                          std::size_t channelCount, std::uint32_t channels) {
    FragmentLevel level;
    if (frameCount == 0) {
        return level;
    }
    double sumOfDecibels = 0.0;
    int chosen = 0;
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
        if ((channels >> channel & 1u) != 0) {
            sumOfDecibels +=
                decibelsOfMeanSquare(squares[channel] / static_cast<double>(frameCount));
            ++chosen;
        }
    }
    if (chosen > 0) {
        level.averagePower = static_cast<float>(sumOfDecibels / chosen);
        level.samplePeak = decibelsOfPeak(peak);
    }
    return level;
}

FragmentLevel fragmentLevel(const float* samples, std::size_t frameCount, std::size_t channelCount,
                            std::uint32_t channels) {
    FragmentSums sums;
    sums.add(samples, frameCount, channelCount, channels);
    return sums.level(channelCount, channels);
}
