#include "app/audio/BandFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Cut-offs closer to the Nyquist frequency than this share of the sample rate are moved down
// to it, where the bilinear transform still behaves.
constexpr double kHighestCutShare = 0.45;
// State this small is flushed to 0: a decaying filter must never reach denormal numbers, which
// are slow on most processors.
constexpr double kFlushBelow = 1e-30;

enum class Kind { highPass, lowPass };

}  // namespace

void BandFilter::configure(float lowCut, float highCut, double sampleRate,
                           std::size_t channelCount) {
    lowCut_ = lowCut;
    highCut_ = highCut;
    channelCount_ = channelCount;
    sections_.clear();
    const auto add = [&](Kind kind, double cut) {
        if (!(cut > 0.0) || !(sampleRate > 0.0)) {
            return;
        }
        // A Butterworth pair of poles (Q = 1/sqrt 2), from the bilinear transform.
        const double w0 =
            2.0 * std::numbers::pi * std::min(cut, kHighestCutShare * sampleRate) / sampleRate;
        const double cosW0 = std::cos(w0);
        const double alpha = std::sin(w0) / std::numbers::sqrt2;
        const double a0 = 1.0 + alpha;
        const double sign = kind == Kind::lowPass ? 1.0 : -1.0;
        const double b0 = (1.0 - sign * cosW0) / 2.0;
        sections_.push_back(Section{b0 / a0, sign * 2.0 * b0 / a0, b0 / a0, -2.0 * cosW0 / a0,
                                    (1.0 - alpha) / a0,
                                    std::vector<std::array<double, 2>>(channelCount)});
    };
    add(Kind::highPass, lowCut);
    add(Kind::lowPass, highCut);
}

void BandFilter::process(const float* input, float* output, std::size_t frameCount) {
    if (sections_.empty()) {
        if (input != output) {
            std::copy(input, input + frameCount * channelCount_, output);
        }
        return;
    }
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channelCount_; ++channel) {
            const std::size_t index = frame * channelCount_ + channel;
            double sample = input[index];
            for (Section& section : sections_) {
                std::array<double, 2>& z = section.state[channel];
                const double filtered = section.b0 * sample + z[0];
                z[0] = section.b1 * sample - section.a1 * filtered + z[1];
                z[1] = section.b2 * sample - section.a2 * filtered;
                sample = filtered;
            }
            output[index] = static_cast<float>(sample);
        }
    }
    for (Section& section : sections_) {
        for (std::array<double, 2>& z : section.state) {
            for (double& value : z) {
                if (std::fabs(value) < kFlushBelow) {
                    value = 0.0;
                }
            }
        }
    }
}
