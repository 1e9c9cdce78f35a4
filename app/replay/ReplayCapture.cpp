#include "app/replay/ReplayCapture.h"

#include <algorithm>

ReplayCapture::ReplayCapture(AudioDevice recording, std::size_t channelCount, double sampleRate)
    : recording_(std::move(recording)), channelCount_(channelCount), sampleRate_(sampleRate) {
    path_.meters.reset(channelCount_, sampleRate_);
}

void ReplayCapture::feed(const float* samples, std::size_t frames,
                         SoundTap::Clock::time_point arrival) {
    if (running_ && input_) {
        path_.feed(samples, frames, channelCount_, sampleRate_, metering_.anyMeterFast(), arrival);
    }
}

bool ReplayCapture::addInput(const AudioDevice& device, std::string& error) {
    if (device.name != recording_.name) {
        error = "no such input: " + device.name;
        input_.reset();
    } else {
        input_ = recording_;
    }
    checkChannels();
    return input_.has_value();
}

void ReplayCapture::removeInput() {
    input_.reset();
    checkChannels();
}

float ReplayCapture::previewVolume() const {
    return path_.previewVolume();
}

void ReplayCapture::setPreviewVolume(float volume) {
    path_.setPreviewVolume(volume);
}

void ReplayCapture::setMeters(std::vector<MeterSettings> meters) {
    path_.meters.configure(std::move(meters));
    checkChannels();
}

std::vector<std::vector<float>> ReplayCapture::channelAveragePowerLevels() {
    return metering_.take(input_.has_value());
}

std::vector<MeterReading> ReplayCapture::meterReadings() const {
    return metering_.readings(input_.has_value());
}

void ReplayCapture::setFragmentLevelHandler(FragmentLevelHandler handler) {
    path_.fragmentLevelHandler = std::move(handler);
}

void ReplayCapture::addSoundTap(std::shared_ptr<SoundTap> tap) {
    if (tap && std::ranges::find(path_.soundTaps, tap) == path_.soundTaps.end()) {
        path_.soundTaps.push_back(std::move(tap));
    }
}

void ReplayCapture::removeSoundTap(const std::shared_ptr<SoundTap>& tap) {
    std::erase(path_.soundTaps, tap);
}

void ReplayCapture::checkChannels() {
    metering_.checkChannels(input_, static_cast<unsigned>(channelCount_));
}
