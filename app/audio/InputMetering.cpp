#include "app/audio/InputMetering.h"

#include <algorithm>

#include "app/audio/MissingChannelText.h"
#include "transport/SystemLog.h"

InputMetering::InputMetering(MeterBank& meters) : meters_(meters) {
    checkChannels(std::nullopt, 0);
}

void InputMetering::checkChannels(const std::optional<AudioDevice>& input, unsigned channelCount) {
    const std::vector<MeterSettings>& meters = meters_.meters();
    channelErrors_.resize(meters.size());
    for (std::size_t meter = 0; meter < meters.size(); ++meter) {
        std::string error;
        for (const unsigned channel : meters[meter].channels) {
            if (input && (channel < 1 || channel > channelCount)) {
                error = missingChannelText(meters[meter].channelsKey, input->description,
                                           channelCount, channel);
                break;
            }
        }
        if (!error.empty() && error != channelErrors_[meter]) {
            systemLog("audio input " + input->name + ": " + error);
        }
        channelErrors_[meter] = std::move(error);
    }
}

bool InputMetering::anyMeterFast() const {
    const std::vector<MeterSettings>& meters = meters_.meters();
    return std::any_of(meters.begin(), meters.end(),
                       [](const MeterSettings& meter) { return meter.fast; });
}

std::vector<std::vector<float>> InputMetering::take(bool hasInput) {
    readings_.clear();
    loudestChannel_.reset();
    if (!hasInput) {
        return {};
    }
    MeterBank::Take take = meters_.take();
    readings_ = std::move(take.meters);
    if (!channelErrors_.front().empty()) {
        return {};
    }
    loudestChannel_ = take.loudestChannel;
    return {readings_.front().levels};
}

std::vector<MeterReading> InputMetering::readings(bool hasInput) const {
    std::vector<MeterReading> readings(channelErrors_.size());
    for (std::size_t meter = 0; meter < readings.size(); ++meter) {
        if (meter < readings_.size()) {
            readings[meter] = readings_[meter];
        }
        readings[meter].channelsError = channelErrors_[meter];
        readings[meter].band = hasInput ? meters_.bandStatus(meter) : BandStatus{};
    }
    return readings;
}
