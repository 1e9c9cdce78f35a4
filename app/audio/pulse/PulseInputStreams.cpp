#include "app/audio/pulse/PulseInputStreams.h"

#include <pulse/error.h>

#include <algorithm>
#include <cstring>

namespace {

// Fragments of 10 ms reach the meter well within one 50 ms tick without waking the loop
// thread more than a hundred times a second.
constexpr pa_usec_t kRecordFragmentUsec = 10'000;
// With fast response, a trigger hears of a burst within 5 ms of audio plus the server's latency.
constexpr pa_usec_t kFastFragmentUsec = 5'000;
// Enough queued preview audio to ride out scheduling hiccups, little enough to stay in sync.
constexpr pa_usec_t kPreviewTargetUsec = 40'000;
constexpr std::size_t kChunkFrames = MeterBank::kChunkFrames;

void disconnectAndRelease(pa_stream*& stream) {
    if (stream == nullptr) {
        return;
    }
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

}  // namespace

std::unique_ptr<PulseInputStreams> PulseInputStreams::open(pa_context* context,
                                                           const PulseSource& source,
                                                           SoundPath& path, bool fastResponse,
                                                           FailureHandler onFailure,
                                                           std::string& error) {
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32NE, source.sampleSpec.rate,
                              source.sampleSpec.channels};
    if (context == nullptr) {
        error = "no sound server";
        return nullptr;
    }
    if (!pa_sample_spec_valid(&sampleSpec) ||
        !pa_channel_map_compatible(&source.channelMap, &sampleSpec)) {
        error = "unusable format of source " + source.device.name;
        return nullptr;
    }
    std::unique_ptr<PulseInputStreams> streams(
        new PulseInputStreams(sampleSpec, path, fastResponse));
    streams->onFailure_ = std::move(onFailure);
    if (!streams->connect(context, source, error)) {
        return nullptr;
    }
    return streams;
}

PulseInputStreams::PulseInputStreams(const pa_sample_spec& sampleSpec, SoundPath& path,
                                     bool fastResponse)
    : sampleSpec_(sampleSpec),
      channelCount_(sampleSpec.channels),
      path_(path),
      fastResponse_(fastResponse),
      askedFast_(fastResponse),
      fragmentFrames_(std::clamp<std::size_t>(
          pa_usec_to_bytes(kFastFragmentUsec, &sampleSpec) / pa_frame_size(&sampleSpec), 1,
          kChunkFrames)),
      chunk_(kChunkFrames * sampleSpec.channels) {}

PulseInputStreams::~PulseInputStreams() {
    disconnectAndRelease(record_);
    disconnectAndRelease(preview_);
}

bool PulseInputStreams::connect(pa_context* context, const PulseSource& source,
                                std::string& error) {
    record_ = pa_stream_new(context, "Level capture", &sampleSpec_, &source.channelMap);
    preview_ = pa_stream_new(context, "Preview", &sampleSpec_, &source.channelMap);
    if (record_ == nullptr || preview_ == nullptr) {
        error = pa_strerror(pa_context_errno(context));
        return false;
    }
    pa_stream_set_read_callback(record_, onReadable, this);
    pa_stream_set_state_callback(record_, onRecordStateChanged, this);

    const pa_buffer_attr buffer = recordBuffer();
    // Don't follow the stream to another source when this one goes: the selection is this device.
    const auto recordFlags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(record_, source.device.name.c_str(), &buffer, recordFlags) < 0) {
        error = pa_strerror(pa_context_errno(context));
        return false;
    }

    pa_buffer_attr previewBuffer{};
    previewBuffer.maxlength = static_cast<uint32_t>(-1);
    previewBuffer.tlength =
        static_cast<uint32_t>(pa_usec_to_bytes(kPreviewTargetUsec, &sampleSpec_));
    previewBuffer.prebuf = static_cast<uint32_t>(-1);
    previewBuffer.minreq = static_cast<uint32_t>(-1);
    if (pa_stream_connect_playback(preview_, nullptr, &previewBuffer, PA_STREAM_ADJUST_LATENCY,
                                   nullptr, nullptr) < 0) {
        error = pa_strerror(pa_context_errno(context));
        return false;
    }
    return true;
}

pa_buffer_attr PulseInputStreams::recordBuffer() const {
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(fastResponse_ ? kFastFragmentUsec : kRecordFragmentUsec, &sampleSpec_));
    return buffer;
}

void PulseInputStreams::setFastResponse(bool fastResponse) {
    fastResponse_ = fastResponse;
    // A stream still connecting is asked once it is ready.
    if (askedFast_ == fastResponse || pa_stream_get_state(record_) != PA_STREAM_READY) {
        return;
    }
    askedFast_ = fastResponse;
    const pa_buffer_attr buffer = recordBuffer();
    if (pa_operation* asked = pa_stream_set_buffer_attr(record_, &buffer, nullptr, nullptr)) {
        pa_operation_unref(asked);
    }
}

void PulseInputStreams::onReadable(pa_stream*, size_t, void* userdata) {
    static_cast<PulseInputStreams*>(userdata)->readAll();
}

void PulseInputStreams::onRecordStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseInputStreams*>(userdata);
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
        self->setFastResponse(self->fastResponse_);
    }
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED && self->onFailure_) {
        self->onFailure_(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    }
}

void PulseInputStreams::readAll() {
    const std::size_t frameBytes = pa_frame_size(&sampleSpec_);
    while (pa_stream_readable_size(record_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(record_, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        // A hole (data lost by the server) has no samples to measure or play. The first piece of
        // a new stream may be the source's block from before it was joined, padded with
        // silence: it is not measured, so that a stream opened again never reads as a dip.
        if (data != nullptr && !firstPiece_) {
            consume(static_cast<const unsigned char*>(data), bytes / frameBytes);
        }
        firstPiece_ = false;
        pa_stream_drop(record_);
    }
}

void PulseInputStreams::consume(const unsigned char* bytes, std::size_t frameCount) {
    const float gain = path_.previewGain.load(std::memory_order_relaxed);
    // What the preview cannot take now is dropped rather than queued, so it never lags behind.
    std::size_t previewFrames = 0;
    if (gain > 0.0f && pa_stream_get_state(preview_) == PA_STREAM_READY) {
        const std::size_t writable = pa_stream_writable_size(preview_);
        previewFrames =
            writable == static_cast<std::size_t>(-1) ? 0 : writable / pa_frame_size(&sampleSpec_);
    }
    // With fast response, a fragment the server made longer than asked is cut into equal chunks
    // of at most 5 ms, so that every fragment level covers as little audio as promised.
    const std::size_t limit = fastResponse_ ? fragmentFrames_ : kChunkFrames;
    const std::size_t chunks = (frameCount + limit - 1) / limit;
    const std::size_t chunkFrames = chunks == 0 ? 0 : (frameCount + chunks - 1) / chunks;
    const std::size_t frameBytes = pa_frame_size(&sampleSpec_);
    while (frameCount > 0) {
        const std::size_t frames = std::min(frameCount, chunkFrames);
        consumeChunk(bytes, frames, gain, previewFrames);
        bytes += frames * frameBytes;
        frameCount -= frames;
    }
}

void PulseInputStreams::consumeChunk(const unsigned char* bytes, std::size_t frames, float gain,
                                     std::size_t& previewFrames) {
    const std::size_t frameBytes = pa_frame_size(&sampleSpec_);
    std::memcpy(chunk_.data(), bytes, frames * frameBytes);
    // Fragment levels only from a stream that was asked for short fragments.
    path_.feed(chunk_.data(), frames, channelCount_, sampleSpec_.rate, fastResponse_,
               SoundTap::Clock::now());

    const std::size_t played = std::min(frames, previewFrames);
    if (played > 0) {
        const auto samples = chunk_.begin() + static_cast<std::ptrdiff_t>(played * channelCount_);
        std::transform(chunk_.begin(), samples, chunk_.begin(),
                       [gain](float sample) { return sample * gain; });
        pa_stream_write(preview_, chunk_.data(), played * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
        previewFrames -= played;
    }
}
