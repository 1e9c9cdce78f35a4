#pragma once

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

// Over `frameCount` frames of `channelCount` channels; bit n of `channels` chooses channel n
// (counted from 0). Without frames or chosen channels, both read kSilenceDecibels.
FragmentLevel fragmentLevel(const float* samples, std::size_t frameCount, std::size_t channelCount,
                            std::uint32_t channels);
