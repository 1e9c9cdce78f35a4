#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the band does at the input's rate beyond filtering as asked, for the technician's status.
struct BandStatus {
    float lowCut = 0.0f;
    float highCut = 0.0f;
    double sampleRate = 0.0;
    // The low-pass cut-off is at or above half the sample rate: the low-pass is left out.
    bool lowPassLeftOut = false;
    // The high-pass cut-off is at or above half the sample rate: nothing passes.
    bool passesNothing = false;
    // Samples that were infinite or not a number since the input was chosen; each one restarted
    // the filter of its channel from silence.
    std::uint64_t nonFiniteSamples = 0;

    // Empty when there is nothing to tell; else one short sentence per finding, joined by "; ".
    std::string text() const;
    friend bool operator==(const BandStatus&, const BandStatus&) = default;
};

// A second-order Butterworth high-pass and low-pass (two biquads) over interleaved frames, with
// state per channel. Used on the capture thread only.
class BandFilter {
  public:
    // What configure() makes of the cut-offs at `sampleRate` (the non-finite count left at 0).
    static BandStatus statusFor(float lowCut, float highCut, double sampleRate);

    // Sets the cut-offs (0 leaves a filter out) for frames at `sampleRate` with `channelCount`
    // channels, and starts from silence.
    void configure(float lowCut, float highCut, double sampleRate, std::size_t channelCount);
    float lowCut() const { return lowCut_; }
    float highCut() const { return highCut_; }

    // Filters `frameCount` frames from `input` into `output` (which may be the same). A sample
    // that is not a finite number comes out as 0 and restarts its channel from silence, since it
    // would otherwise stay in the state for good; returns how many there were.
    std::size_t process(const float* input, float* output, std::size_t frameCount);

    // Whether processPair() takes this filter: stereo, with something to filter.
    bool pairable() const { return channelCount_ == 2 && !passesNothing_ && !sections_.empty(); }
    // Filters the same stereo frames through two pairable filters at once, each into its own
    // output, as process() would; returns how many input samples were not finite. Their
    // recursions interleave in the processor, which halves the cost of many bands.
    static std::size_t processPair(BandFilter& first, BandFilter& second, const float* input,
                                   float* firstOutput, float* secondOutput, std::size_t frameCount);

  private:
    struct Section {
        // Normalised coefficients of H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
        double b0, b1, b2, a1, a2;
    };

    // Filters the interleaved frames through the first kSections sections: all channels, or
    // kChannels of them from `firstChannel`.
    template <std::size_t kSections>
    std::size_t filterAll(const float* input, float* output, std::size_t frameCount);
    template <std::size_t kSections, std::size_t kChannels>
    std::size_t filterChannels(const float* input, float* output, std::size_t frameCount,
                               std::size_t firstChannel);

    float lowCut_ = 0.0f;
    float highCut_ = 0.0f;
    std::size_t channelCount_ = 0;
    bool passesNothing_ = false;
    std::vector<Section> sections_;  // one or two
    // Per section and channel, the transposed direct form II state.
    std::vector<std::vector<std::array<double, 2>>> states_;
};
