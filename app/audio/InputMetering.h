#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/audio/level/MeterBank.h"

// The main thread's side of an input's meters, as every capture keeps it: each meter's channel
// choice checked against the input, and the readings of the last take.
class InputMetering {
  public:
    explicit InputMetering(MeterBank& meters);

    // Checks each meter's chosen channels against `input` of `channelCount` channels; without
    // input they are judged again when one is added. A new error is logged.
    void checkChannels(const std::optional<AudioDevice>& input, unsigned channelCount);
    bool anyMeterFast() const;
    // What AudioCapture's readers of the same names give, for an input or none.
    std::vector<std::vector<float>> take(bool hasInput);
    std::vector<MeterReading> readings(bool hasInput) const;
    std::optional<float> loudestChannel() const { return loudestChannel_; }

  private:
    MeterBank& meters_;
    std::vector<std::string> channelErrors_;  // per meter
    // Of the last take.
    std::vector<MeterReading> readings_;
    std::optional<float> loudestChannel_;
};
