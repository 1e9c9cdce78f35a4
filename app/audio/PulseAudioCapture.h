#pragma once

#include "app/AudioCapture.h"

// The capture service on a PulseAudio (or pipewire-pulse) server, through libpulse.
class PulseAudioCapture : public AudioCapture {
  public:
    explicit PulseAudioCapture(MainLoop& mainLoop);
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    std::vector<AudioDevice> audioInputDevices() override;
    std::optional<AudioDevice> defaultAudioInputDevice() override;
    void beginConfiguration() override;
    void commitConfiguration() override;
    bool addInput(const AudioDevice& device, std::string& error) override;
    void removeInput() override;
    std::optional<AudioDevice> currentInput() const override;
    void startRunning() override;
    void stopRunning() override;
    float previewVolume() const override;
    void setPreviewVolume(float volume) override;
    std::vector<std::vector<float>> channelAveragePowerLevels() override;
    void setDevicesChangedHandler(std::function<void()> handler) override;
    void setServerReconnectedHandler(std::function<void()> handler) override;

  private:
    MainLoop& mainLoop_;
    std::optional<AudioDevice> input_;
    float previewVolume_ = 0.0f;
};
