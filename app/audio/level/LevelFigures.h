#pragma once

#include <array>

#include <cstddef>
#include <cstdint>

// Readings for silence or for no frames at all: large, negative and finite.
inline constexpr float kSilenceDecibels = -160.0f;

// 10*log10 of a mean square, in dBFS; silence, and NaN (a broken stream), read kSilenceDecibels.
float decibelsOfMeanSquare(double meanSquare);
// 20*log10 of the largest magnitude of a sample, in dBFS; silence reads kSilenceDecibels.
float decibelsOfPeak(double magnitude);

// The level of a few milliseconds of interleaved frames, as the tick measures it: the mean of the
// chosen channels' average powers in dBFS, and the largest sample of those channels in dBFS.
struct FragmentLevel {
    float averagePower = kSilenceDecibels;
    float samplePeak = kSilenceDecibels;
};

// The sums of one fragment gathered piece by piece, since the sound server may hand a fragment
// over in pieces of a few frames: measured alone, a piece near a zero crossing of a steady tone
// reads far below the tone. No allocation: it runs on the audio thread.
class FragmentSums {
  public:
    // Adds `frameCount` frames of `channelCount` channels; bit n of `channels` chooses channel n
    // (counted from 0).
    void add(const float* samples, std::size_t frameCount, std::size_t channelCount,
             std::uint32_t channels);
    // The level of the frames added so far (kSilenceDecibels without frames or chosen channels).
    FragmentLevel level(std::size_t channelCount, std::uint32_t channels) const;
    std::size_t frames() const { return frames_; }

    // As many channels as a sound server stream can carry.
    static constexpr std::size_t kMaxChannels = 32;

  private:
    std::array<double, kMaxChannels> squares_{};
    double peak_ = 0.0;
    std::size_t frames_ = 0;
};

// The level of `frameCount` frames from each channel's sum of squares and the largest magnitude of
// the chosen channels, as FragmentSums tells it.
FragmentLevel levelOfSums(const double* squares, double peak, std::size_t frameCount,
                          std::size_t channelCount, std::uint32_t channels);

// Over `frameCount` frames of `channelCount` channels at once, as FragmentSums measures them.
FragmentLevel fragmentLevel(const float* samples, std::size_t frameCount, std::size_t channelCount,
                            std::uint32_t channels);
