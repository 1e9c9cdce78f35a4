#pragma once

#include <pulse/stream.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/audio/SoundPath.h"
#include "app/audio/pulse/PulseSource.h"

// The streams of one selected input: a record stream from the source as 32-bit float at the
// source's own rate and channel map, whose frames feed the meters, and a playback stream to the
// default output that carries the same frames scaled by the preview gain. With fast response, the
// record stream comes in fragments of at most 5 ms, each measured by the fast meters for the
// fragment handler. Created, used and destroyed with the loop's lock held; the callbacks run on
// the loop thread.
class PulseInputStreams {
  public:
    // Told, on the loop thread, why the server ended the record stream.
    using FailureHandler = std::function<void(const std::string& error)>;

    // Nullptr, with `error` filled, when the streams cannot be set up.
    static std::unique_ptr<PulseInputStreams> open(pa_context* context, const PulseSource& source,
                                                   SoundPath& path, bool fastResponse,
                                                   FailureHandler onFailure, std::string& error);
    ~PulseInputStreams();
    PulseInputStreams(const PulseInputStreams&) = delete;
    // Asks the server for fragments of the other length on the same stream: opening it again
    // would drop what it buffered and leave its first piece unmeasured, blinding every meter for
    // one mapping's change.
    void setFastResponse(bool fastResponse);
    PulseInputStreams& operator=(const PulseInputStreams&) = delete;

  private:
    PulseInputStreams(const pa_sample_spec& sampleSpec, SoundPath& path, bool fastResponse);
    bool connect(pa_context* context, const PulseSource& source, std::string& error);

    static void onReadable(pa_stream* stream, size_t bytes, void* userdata);
    static void onRecordStateChanged(pa_stream* stream, void* userdata);
    // The record stream's buffer for the response in use.
    pa_buffer_attr recordBuffer() const;
    void readAll();
    void consume(const unsigned char* bytes, std::size_t frameCount);
    // One chunk of at most kChunkFrames (in fast response, of at most 5 ms).
    void consumeChunk(const unsigned char* bytes, std::size_t frames, float gain,
                      std::size_t& previewFrames);

    pa_sample_spec sampleSpec_;
    std::size_t channelCount_;
    SoundPath& path_;
    bool fastResponse_;
    // The response the record stream's fragments were last asked for.
    bool askedFast_;
    // The most frames a fragment level may cover.
    const std::size_t fragmentFrames_;
    FailureHandler onFailure_;
    pa_stream* record_ = nullptr;
    pa_stream* preview_ = nullptr;
    // Until the first piece of the record stream came, which is left unmeasured.
    bool firstPiece_ = true;
    // Aligned room for one chunk of frames: the server's buffers carry no alignment promise.
    std::vector<float> chunk_;
};
