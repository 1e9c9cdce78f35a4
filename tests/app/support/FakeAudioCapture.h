#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"

// A capture whose devices and power readings the test chooses. What the controller did to it is
// kept in `calls`, which the test shares and which outlives the capture.
class FakeAudioCapture : public AudioCapture {
  public:
    explicit FakeAudioCapture(std::vector<AudioDevice> devices = {},
                              std::optional<AudioDevice> defaultDevice = std::nullopt);
    ~FakeAudioCapture() override;

    std::vector<AudioDevice> devices;
    std::optional<AudioDevice> defaultDevice;
    // Per connection, per channel, in dBFS; what every tick reads while there is an input.
    std::vector<std::vector<float>> readings;
    // A device whose input cannot be made.
    std::optional<AudioDevice> failingDevice;
    std::shared_ptr<std::vector<std::string>> calls = std::make_shared<std::vector<std::string>>();
    // What the controller asked to meter, and what the test has the first meter report.
    std::vector<MeterSettings> meters;
    // How often the controller handed over a layout of meters.
    int meterLayouts = 0;
    std::string channelsError;
    std::optional<float> samplePeak;
    std::optional<float> loudestChannel;
    BandStatus bandReport;
    // The further meters' levels per channel, meter 1 first; a meter left out reads no level.
    std::vector<std::vector<float>> furtherLevels;
    FragmentLevelHandler fragmentLevelHandler;
    std::function<void()> devicesChanged;
    std::function<void()> serverReconnected;
    InputFailedHandler inputFailed;

    std::vector<AudioDevice> audioInputDevices() override { return devices; }
    std::optional<AudioDevice> defaultAudioInputDevice() override { return defaultDevice; }
    void beginConfiguration() override;
    void commitConfiguration() override;
    bool addInput(const AudioDevice& device, std::string& error) override;
    void removeInput() override;
    std::optional<AudioDevice> currentInput() const override { return input_; }
    void startRunning() override;
    void stopRunning() override;
    float previewVolume() const override { return previewVolume_; }
    void setPreviewVolume(float volume) override;
    void setMeters(std::vector<MeterSettings> meters) override;
    std::vector<std::vector<float>> channelAveragePowerLevels() override;
    std::vector<MeterReading> meterReadings() const override;
    std::optional<float> loudestChannelLevel() const override {
        return input_ ? loudestChannel : std::nullopt;
    }
    // Whether the first meter is fast.
    bool fastResponse() const { return !meters.empty() && meters.front().fast; }
    void setFragmentLevelHandler(FragmentLevelHandler handler) override;
    void setDevicesChangedHandler(std::function<void()> handler) override;
    void setServerReconnectedHandler(std::function<void()> handler) override;
    void setInputFailedHandler(InputFailedHandler handler) override;
    // The server ends the input's stream: the input goes, then the handler hears why.
    void failInput(const std::string& error);
    // A fragment arrives in fast response: the handler hears meter `meter`'s level (on the
    // caller's thread), when that meter is fast.
    void deliverFragment(float averagePowerDb, float samplePeakDb, std::size_t meter = 0);

  private:
    std::optional<AudioDevice> input_;
    float previewVolume_ = -1.0f;
};
