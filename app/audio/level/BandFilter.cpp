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
    states_.clear();
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
        sections_.push_back(
            Section{b0 / a0, sign * 2.0 * b0 / a0, b0 / a0, -2.0 * cosW0 / a0, (1.0 - alpha) / a0});
        states_.emplace_back(channelCount);
    };
    if (!passesNothing_) {
        add(Kind::highPass, lowCut);
        add(Kind::lowPass, highCut);
    }
}

namespace {

// The two channels of a stereo frame, one per lane, so that one instruction filters both.
using Lanes = double __attribute__((vector_size(16)));

// One section with its state, as locals of the filtering loop: kept in registers, the recursion
// never goes through memory on a sample. `Value` is one channel's double or a stereo pair's Lanes.
template <typename Value>
struct BiquadOf {
    Value b0{}, b1{}, b2{}, a1{}, a2{};
    Value z0{}, z1{};
    Value step(Value sample) {
        // Summed so that the feedback waits on one multiply and one subtraction only: the
        // recursion's latency, not the arithmetic, bounds how fast a channel is filtered.
        const Value filtered = b0 * sample + z0;
        z0 = (b1 * sample + z1) - a1 * filtered;
        z1 = b2 * sample - a2 * filtered;
        return filtered;
    }
};
using Biquad = BiquadOf<double>;
using LaneBiquad = BiquadOf<Lanes>;

// A channel's sections in series: the high-pass and the low-pass, or one of them.
template <std::size_t kSections>
struct Chain {
    Biquad first, second;
    // Filters one sample; a sample that is not a finite number comes out as 0 and restarts the
    // channel from silence. Returns whether it was one.
    std::size_t filter(float input, float& output) {
        if (!std::isfinite(input)) {
            first.z0 = first.z1 = second.z0 = second.z1 = 0.0;
            output = 0.0f;
            return 1;
        }
        double sample = first.step(input);
        if constexpr (kSections == 2)
            sample = second.step(sample);
        output = static_cast<float>(sample);
        return 0;
    }
};

double flushed(double value) {
    return std::fabs(value) < kFlushBelow ? 0.0 : value;
}

}  // namespace

std::size_t BandFilter::processPair(BandFilter& firstFilter, BandFilter& secondFilter,
                                    const float* input, float* firstOutput, float* secondOutput,
                                    std::size_t frameCount) {
    // A filter's sections with both channels' state; a missing section passes the sound as it is.
    const auto load = [](const BandFilter& filter) {
        std::array<LaneBiquad, 2> chain{};
        for (std::size_t at = 0; at < 2; ++at) {
            if (at >= filter.sections_.size()) {
                chain[at].b0 = Lanes{1.0, 1.0};
                continue;
            }
            const Section& section = filter.sections_[at];
            const auto& state = filter.states_[at];
            chain[at] = {Lanes{section.b0, section.b0},  Lanes{section.b1, section.b1},
                         Lanes{section.b2, section.b2},  Lanes{section.a1, section.a1},
                         Lanes{section.a2, section.a2},  Lanes{state[0][0], state[1][0]},
                         Lanes{state[0][1], state[1][1]}};
        }
        return chain;
    };
    const auto store = [](BandFilter& filter, const std::array<LaneBiquad, 2>& chain) {
        for (std::size_t at = 0; at < filter.sections_.size(); ++at) {
            for (std::size_t channel = 0; channel < 2; ++channel) {
                filter.states_[at][channel] = {flushed(chain[at].z0[channel]),
                                               flushed(chain[at].z1[channel])};
            }
        }
    };
    std::array<LaneBiquad, 2> first = load(firstFilter);
    std::array<LaneBiquad, 2> second = load(secondFilter);
    std::size_t nonFinite = 0;
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        const float left = input[2 * frame];
        const float right = input[2 * frame + 1];
        Lanes sample{left, right};
        if (!std::isfinite(left) || !std::isfinite(right)) {
            // Such a channel restarts from silence and gives 0, as in process().
            const Lanes finite{std::isfinite(left) ? 1.0 : 0.0, std::isfinite(right) ? 1.0 : 0.0};
            nonFinite += (std::isfinite(left) ? 0 : 1) + (std::isfinite(right) ? 0 : 1);
            sample = Lanes{std::isfinite(left) ? left : 0.0f, std::isfinite(right) ? right : 0.0f};
            for (auto* chain : {&first, &second}) {
                for (LaneBiquad& biquad : *chain) {
                    biquad.z0 *= finite;
                    biquad.z1 *= finite;
                }
            }
        }
        const Lanes firstFiltered = first[1].step(first[0].step(sample));
        const Lanes secondFiltered = second[1].step(second[0].step(sample));
        firstOutput[2 * frame] = static_cast<float>(firstFiltered[0]);
        firstOutput[2 * frame + 1] = static_cast<float>(firstFiltered[1]);
        secondOutput[2 * frame] = static_cast<float>(secondFiltered[0]);
        secondOutput[2 * frame + 1] = static_cast<float>(secondFiltered[1]);
    }
    store(firstFilter, first);
    store(secondFilter, second);
    return nonFinite;
}

// kChannels (1 or 2) channels side by side, so that their independent recursions overlap in the
// processor: the filter was the dearest part of metering many bands.
template <std::size_t kSections, std::size_t kChannels>
std::size_t BandFilter::filterChannels(const float* input, float* output, std::size_t frameCount,
                                       std::size_t firstChannel) {
    const auto load = [this](std::size_t channel) {
        Chain<kSections> chain;
        Biquad* biquads[] = {&chain.first, &chain.second};
        for (std::size_t at = 0; at < kSections; ++at) {
            const Section& section = sections_[at];
            const auto& state = states_[at][channel];
            *biquads[at] = {section.b0, section.b1, section.b2, section.a1,
                            section.a2, state[0],   state[1]};
        }
        return chain;
    };
    const auto store = [this](const Chain<kSections>& chain, std::size_t channel) {
        const Biquad* biquads[] = {&chain.first, &chain.second};
        for (std::size_t at = 0; at < kSections; ++at)
            states_[at][channel] = {flushed(biquads[at]->z0), flushed(biquads[at]->z1)};
    };
    Chain<kSections> left = load(firstChannel);
    Chain<kSections> right = kChannels == 2 ? load(firstChannel + 1) : left;
    std::size_t nonFinite = 0;
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        const std::size_t at = frame * channelCount_ + firstChannel;
        nonFinite += left.filter(input[at], output[at]);
        if constexpr (kChannels == 2)
            nonFinite += right.filter(input[at + 1], output[at + 1]);
    }
    store(left, firstChannel);
    if constexpr (kChannels == 2)
        store(right, firstChannel + 1);
    return nonFinite;
}

template <std::size_t kSections>
std::size_t BandFilter::filterAll(const float* input, float* output, std::size_t frameCount) {
    std::size_t nonFinite = 0;
    std::size_t channel = 0;
    for (; channel + 2 <= channelCount_; channel += 2)
        nonFinite += filterChannels<kSections, 2>(input, output, frameCount, channel);
    if (channel < channelCount_)
        nonFinite += filterChannels<kSections, 1>(input, output, frameCount, channel);
    return nonFinite;
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
    return sections_.size() == 1 ? filterAll<1>(input, output, frameCount)
                                 : filterAll<2>(input, output, frameCount);
}
