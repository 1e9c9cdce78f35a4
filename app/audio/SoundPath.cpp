#include "app/audio/SoundPath.h"

void SoundPath::feed(const float* samples, std::size_t frames, std::size_t channelCount,
                     double sampleRate, bool fast, SoundTap::Clock::time_point arrival) {
    static const MeterBank::FragmentHandler none;
    meters.feed(samples, frames, channelCount, sampleRate, fast ? fragmentLevelHandler : none);
    for (const auto& tap : soundTaps) {
        tap->write(samples, frames, channelCount, sampleRate, arrival);
    }
}
