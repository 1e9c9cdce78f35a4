#include "app/audio/level/BandFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// State this small is flushed to 0: a decaying filter must never reach denormal numbers, which
// are slow on most processors.
constexpr double kFlushBelow = 1e-30;

enum class Kind { highPass, lowPass };

bool isSet(double cut) {
    return cut > 0.0;
}

// Whether a cut-off cannot be reached at `sampleRate`: a digital filter has nothing above half
// the sample rate, and the bilinear transform's poles sit on the unit circle there.
bool atOrAboveNyquist(double cut, double sampleRate) {
    return isSet(cut) && sampleRate > 0.0 && cut >= sampleRate / 2.0;
}

std::string hertz(double value) {
    return std::to_string(static_cast<long long>(std::lround(value))) + " Hz";
}

}  // namespace

std::string BandStatus::text() const {
    std::string text;
    const auto add = [&text](const std::string& finding) {
        text += (text.empty() ? "" : "; ") + finding;
    };
    const std::string half = hertz(sampleRate / 2.0);
    if (passesNothing) {
        add("low cut " + hertz(lowCut) + " is at or above " + half +
            " (half the input's rate): nothing passes");
    }
    if (lowPassLeftOut) {
        add("high cut " + hertz(highCut) + " is at or above " + half +
            " (half the input's rate): no high cut");
    }
    if (nonFiniteSamples > 0) {
        add(std::to_string(nonFiniteSamples) +
            " samples that were not finite numbers restarted the band filter");
    }
    return text;
}

BandStatus BandFilter::statusFor(float lowCut, float highCut, double sampleRate) {
    BandStatus status{lowCut, highCut, sampleRate};
    status.passesNothing = atOrAboveNyquist(lowCut, sampleRate);
    status.lowPassLeftOut = atOrAboveNyquist(highCut, sampleRate);
    return status;
}

void BandFilter::configure(float lowCut, float highCut, double sampleRate,
                           std::size_t channelCount) {
    lowCut_ = lowCut;
    highCut_ = highCut;
    channelCount_ = channelCount;
    sections_.clear();
    const BandStatus status = statusFor(lowCut, highCut, sampleRate);
    passesNothing_ = status.passesNothing;
    const auto add = [&](Kind kind, double cut) {
        if (!isSet(cut) || !(sampleRate > 0.0) || atOrAboveNyquist(cut, sampleRate)) {
            return;
        }
        // A Butterworth pair of poles (Q = 1/sqrt 2), from the bilinear transform.
        const double w0 = 2.0 * std::numbers::pi * cut / sampleRate;
        const double cosW0 = std::cos(w0);
        const double alpha = std::sin(w0) / std::numbers::sqrt2;
        const double a0 = 1.0 + alpha;
        const double sign = kind == Kind::lowPass ? 1.0 : -1.0;
        const double b0 = (1.0 - sign * cosW0) / 2.0;
        sections_.push_back(Section{b0 / a0, sign * 2.0 * b0 / a0, b0 / a0, -2.0 * cosW0 / a0,
                                    (1.0 - alpha) / a0,
                                    std::vector<std::array<double, 2>>(channelCount)});
    };
    if (!passesNothing_) {
        add(Kind::highPass, lowCut);
        add(Kind::lowPass, highCut);
    }
}

void BandFilter::resetChannel(std::size_t channel) {
    for (Section& section : sections_) {
        section.state[channel] = {0.0, 0.0};
    }
}

std::size_t BandFilter::process(const float* input, float* output, std::size_t frameCount) {
    const std::size_t samples = frameCount * channelCount_;
    std::size_t nonFinite = 0;
    if (passesNothing_ || sections_.empty()) {
        for (std::size_t index = 0; index < samples; ++index) {
            const bool finite = std::isfinite(input[index]);
            nonFinite += finite ? 0 : 1;
            output[index] = passesNothing_ || !finite ? 0.0f : input[index];
        }
        return nonFinite;
    }
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        for (std::size_t channel = 0; channel < channelCount_; ++channel) {
            const std::size_t index = frame * channelCount_ + channel;
            double sample = input[index];
            if (!std::isfinite(sample)) {
                ++nonFinite;
                resetChannel(channel);
                output[index] = 0.0f;
                continue;
            }
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
    return nonFinite;
}
