#pragma once

#include <pulse/context.h>
#include <pulse/stream.h>

#include <cstddef>
#include <vector>

#include "app/audio/pulse/PulseThreadedLoop.h"

// A preview to the default output for a feeder of its own (a recording played as the input), on
// a connection of its own: it connects in the background, and what the stream cannot take at the
// moment is dropped, so that the feeder never waits on the sound server. Without a server nothing
// is played and nothing fails.
class PulsePreviewOutput {
  public:
    PulsePreviewOutput(std::size_t channelCount, double sampleRate);
    ~PulsePreviewOutput();
    PulsePreviewOutput(const PulsePreviewOutput&) = delete;
    PulsePreviewOutput& operator=(const PulsePreviewOutput&) = delete;

    // From one thread: plays `frames` interleaved frames scaled by `gain`.
    void play(const float* samples, std::size_t frames, float gain);

  private:
    static void onContextState(pa_context* context, void* userdata);

    pa_sample_spec sampleSpec_;
    // Room for the scaled frames, kept between pieces.
    std::vector<float> scaled_;
    // Declared first of those the loop's thread uses, so that it outlives them.
    PulseThreadedLoop loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
};
