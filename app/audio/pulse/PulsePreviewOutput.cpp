#include "app/audio/pulse/PulsePreviewOutput.h"

#include <algorithm>
#include <mutex>

namespace {

// As the device's preview: enough queued to ride out a hiccup, little enough to stay in sync.
constexpr pa_usec_t kPreviewTargetUsec = 40'000;

}  // namespace

PulsePreviewOutput::PulsePreviewOutput(std::size_t channelCount, double sampleRate)
    : sampleSpec_{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(sampleRate),
                  static_cast<uint8_t>(channelCount)} {
    if (!loop_.isRunning() || !pa_sample_spec_valid(&sampleSpec_)) {
        return;
    }
    std::lock_guard lock(loop_);
    context_ = pa_context_new(loop_.api(), "Kestrano");
    if (context_ == nullptr) {
        return;
    }
    pa_context_set_state_callback(context_, onContextState, this);
    // A refused connection ends in the failed state: no preview.
    pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr);
}

PulsePreviewOutput::~PulsePreviewOutput() {
    std::lock_guard lock(loop_);
    if (stream_ != nullptr) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
}

void PulsePreviewOutput::onContextState(pa_context* context, void* userdata) {
    auto* self = static_cast<PulsePreviewOutput*>(userdata);
    if (pa_context_get_state(context) != PA_CONTEXT_READY || self->stream_ != nullptr) {
        return;
    }
    // The default channel map of the file's channel count, as a player of the file would use.
    self->stream_ = pa_stream_new(context, "Preview", &self->sampleSpec_, nullptr);
    if (self->stream_ == nullptr) {
        return;
    }
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength =
        static_cast<uint32_t>(pa_usec_to_bytes(kPreviewTargetUsec, &self->sampleSpec_));
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = static_cast<uint32_t>(-1);
    pa_stream_connect_playback(self->stream_, nullptr, &buffer, PA_STREAM_ADJUST_LATENCY, nullptr,
                               nullptr);
}

void PulsePreviewOutput::play(const float* samples, std::size_t frames, float gain) {
    std::lock_guard lock(loop_);
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return;
    }
    const std::size_t frameBytes = pa_frame_size(&sampleSpec_);
    const std::size_t writable = pa_stream_writable_size(stream_);
    const std::size_t played =
        writable == static_cast<std::size_t>(-1) ? 0 : std::min(frames, writable / frameBytes);
    if (played == 0) {
        return;
    }
    scaled_.resize(played * sampleSpec_.channels);
    std::transform(samples, samples + scaled_.size(), scaled_.begin(),
                   [gain](float sample) { return sample * gain; });
    pa_stream_write(stream_, scaled_.data(), played * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
}
