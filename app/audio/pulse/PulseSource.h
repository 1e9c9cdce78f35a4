#pragma once

#include <pulse/channelmap.h>
#include <pulse/sample.h>

#include "app/audio/AudioCapture.h"

// A source of the server as the capture needs it: who it is and the format it delivers.
struct PulseSource {
    AudioDevice device;
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
};
