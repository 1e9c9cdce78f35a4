#pragma once

#include <pulse/stream.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/audio/BandFilter.h"
#include "app/audio/ChannelPowerMeter.h"
#include "app/audio/PulseSource.h"

// The streams of one selected input: a record stream from the source as 32-bit float at the
// source's own rate and channel map, whose frames feed the meter through the band filter, and a
// playback stream to the
// default output that carries the same frames scaled by the preview gain. Created, used and
// destroyed with the loop's lock held; the callbacks run on the loop thread.
class PulseInputStreams {
  public:
    // Told, on the loop thread, why the server ended the record stream.
    using FailureHandler = std::function<void(const std::string& error)>;

    // Nullptr, with `error` filled, when the streams cannot be set up.
    static std::unique_ptr<PulseInputStreams> open(pa_context* context, const PulseSource& source,
                                                   ChannelPowerMeter& meter,
                                                   const std::atomic<float>& previewGain,
                                                   BandSettings& band, FailureHandler onFailure,
                                                   std::string& error);
    ~PulseInputStreams();
    PulseInputStreams(const PulseInputStreams&) = delete;
    PulseInputStreams& operator=(const PulseInputStreams&) = delete;

  private:
    PulseInputStreams(const pa_sample_spec& sampleSpec, ChannelPowerMeter& meter,
                      const std::atomic<float>& previewGain, BandSettings& band);
    bool connect(pa_context* context, const PulseSource& source, std::string& error);

    static void onReadable(pa_stream* stream, size_t bytes, void* userdata);
    static void onRecordStateChanged(pa_stream* stream, void* userdata);
    void readAll();
    void consume(const unsigned char* bytes, std::size_t frameCount);

    pa_sample_spec sampleSpec_;
    std::size_t channelCount_;
    ChannelPowerMeter& meter_;
    const std::atomic<float>& previewGain_;
    BandSettings& band_;
    FailureHandler onFailure_;
    BandFilter filter_;
    pa_stream* record_ = nullptr;
    pa_stream* preview_ = nullptr;
    // Aligned room for one chunk of frames: the server's buffers carry no alignment promise.
    std::vector<float> chunk_;
    // The chunk as the band filter leaves it; the preview plays the unfiltered one.
    std::vector<float> filtered_;
};
