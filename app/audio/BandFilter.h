#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <vector>

// The band the technician wants metered, set on the main thread and read by the capture thread:
// a high-pass cut-off and a low-pass cut-off in Hz, 0 for none.
struct BandSettings {
    std::atomic<float> lowCut{0.0f};
    std::atomic<float> highCut{0.0f};
};

// A second-order Butterworth high-pass and low-pass (two biquads) over interleaved frames, with
// state per channel. Used on the capture thread only.
class BandFilter {
  public:
    // Sets the cut-offs (0 leaves a filter out) for frames at `sampleRate` with `channelCount`
    // channels, and starts from silence.
    void configure(float lowCut, float highCut, double sampleRate, std::size_t channelCount);
    float lowCut() const { return lowCut_; }
    float highCut() const { return highCut_; }
    bool passesEverything() const { return sections_.empty(); }

    // Filters `frameCount` frames from `input` into `output` (which may be the same).
    void process(const float* input, float* output, std::size_t frameCount);

  private:
    struct Section {
        // Normalised coefficients of H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
        double b0, b1, b2, a1, a2;
        // Transposed direct form II state, per channel.
        std::vector<std::array<double, 2>> state;
    };

    float lowCut_ = 0.0f;
    float highCut_ = 0.0f;
    std::size_t channelCount_ = 0;
    std::vector<Section> sections_;
};
