#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/audio/InputMetering.h"
#include "app/audio/SoundPath.h"

// A recording as the one input there is: the replay hands its pieces of sound on, on its own
// thread and clock, through the same sound path as a device's capture, so that the meters, the
// bands and the fast gates hear the file exactly as they would hear it live.
class ReplayCapture : public AudioCapture {
  public:
    ReplayCapture(AudioDevice recording, std::size_t channelCount, double sampleRate);

    // Hands on `frames` interleaved frames that arrived at `arrival`, while running with the
    // recording as input; the fast meters' levels reach the fragment handler before it returns.
    void feed(const float* samples, std::size_t frames, SoundTap::Clock::time_point arrival);
    bool anyMeterFast() const { return metering_.anyMeterFast(); }

    std::vector<AudioDevice> audioInputDevices() override { return {recording_}; }
    std::optional<AudioDevice> defaultAudioInputDevice() override { return recording_; }
    void beginConfiguration() override {}
    void commitConfiguration() override {}
    bool addInput(const AudioDevice& device, std::string& error) override;
    void removeInput() override;
    std::optional<AudioDevice> currentInput() const override { return input_; }
    void startRunning() override { running_ = true; }
    void stopRunning() override { running_ = false; }
    float previewVolume() const override;
    void setPreviewVolume(float volume) override;
    void setMeters(std::vector<MeterSettings> meters) override;
    std::vector<std::vector<float>> channelAveragePowerLevels() override;
    std::vector<MeterReading> meterReadings() const override;
    std::optional<float> loudestChannelLevel() const override { return metering_.loudestChannel(); }
    void setFragmentLevelHandler(FragmentLevelHandler handler) override;
    void addSoundTap(std::shared_ptr<SoundTap> tap) override;
    void removeSoundTap(const std::shared_ptr<SoundTap>& tap) override;
    // A recording neither comes nor goes nor fails once open.
    void setDevicesChangedHandler(std::function<void()> /*handler*/) override {}
    void setServerReconnectedHandler(std::function<void()> /*handler*/) override {}
    void setInputFailedHandler(InputFailedHandler /*handler*/) override {}

  private:
    void checkChannels();

    const AudioDevice recording_;
    const std::size_t channelCount_;
    const double sampleRate_;
    SoundPath path_;
    InputMetering metering_{path_.meters};
    std::optional<AudioDevice> input_;
    bool running_ = false;
};
