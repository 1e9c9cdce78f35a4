#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/audio/InputMetering.h"
#include "app/audio/SoundPath.h"
#include "app/audio/recording/RecordingPlayer.h"

// The system's capture with one more input: a recording (named as RecordingDevice.h says), played
// in real time and in a loop through a sound path of its own, so that the meters, gates, tempo and
// spectrum hear it as they would hear a device. Every device of the sound server, and everything
// while no recording is the input, is the wrapped capture's alone. Main thread, like any capture.
class RecordingInputCapture : public AudioCapture {
  public:
    RecordingInputCapture(MainLoop& mainLoop, std::unique_ptr<AudioCapture> system);
    ~RecordingInputCapture() override;
    RecordingInputCapture(const RecordingInputCapture&) = delete;
    RecordingInputCapture& operator=(const RecordingInputCapture&) = delete;

    // The server's inputs, then the recording while it is the input.
    std::vector<AudioDevice> audioInputDevices() override;
    std::optional<AudioDevice> defaultAudioInputDevice() override;
    void beginConfiguration() override;
    void commitConfiguration() override;
    // A recording is opened here, so that a file that is missing or no recording is refused
    // with the reason at once, and its channels are known to the channel choice.
    bool addInput(const AudioDevice& device, std::string& error) override;
    void removeInput() override;
    std::optional<AudioDevice> currentInput() const override;
    void startRunning() override;
    void stopRunning() override;
    float previewVolume() const override;
    void setPreviewVolume(float volume) override;
    void setMeters(std::vector<MeterSettings> meters) override;
    std::vector<std::vector<float>> channelAveragePowerLevels() override;
    std::vector<MeterReading> meterReadings() const override;
    std::optional<float> loudestChannelLevel() const override;
    void setFragmentLevelHandler(FragmentLevelHandler handler) override;
    void setMetering(std::vector<MeterSettings> meters, FragmentLevelHandler handler) override;
    void addSoundTap(std::shared_ptr<SoundTap> tap) override;
    void removeSoundTap(const std::shared_ptr<SoundTap>& tap) override;
    void setDevicesChangedHandler(std::function<void()> handler) override;
    void setServerReconnectedHandler(std::function<void()> handler) override;
    void setInputFailedHandler(InputFailedHandler handler) override;

  private:
    struct Recording {
        AudioDevice device;
        std::string path;
        std::size_t channelCount = 0;
    };

    // Plays the recording while it is the input and the capture runs, outside a configuration
    // batch (so that it never feeds beside a device's streams that the batch's end closes).
    void applyPlayer();
    void stopRecording();
    void metersChanged();
    // Main thread: the player of `generation` could not go on.
    void dropFailedRecording(std::uint64_t generation, const std::string& error);
    // Any thread: the player of `generation` failed.
    void postFailure(std::uint64_t generation, const std::string& error);

    MainLoop& mainLoop_;
    const std::unique_ptr<AudioCapture> system_;
    InputFailedHandler inputFailed_;

    // Main thread only.
    int configurationDepth_ = 0;
    bool running_ = false;
    std::optional<Recording> recording_;
    // Opened by addInput, until the player takes it; a player started again opens it anew.
    std::unique_ptr<RecordingFile> opened_;
    std::uint64_t playerGeneration_ = 0;
    // Calls posted from the player's thread hold this weakly: after destruction they do nothing.
    const std::shared_ptr<RecordingInputCapture*> self_ =
        std::make_shared<RecordingInputCapture*>(this);

    // The recording's own path, configured under pathLock_, which the player holds as it feeds.
    std::mutex pathLock_;
    SoundPath path_;
    InputMetering metering_{path_.meters};
    std::atomic<bool> fast_{false};
    // Last, so that it stops before the path it feeds goes.
    std::unique_ptr<RecordingPlayer> player_;
};

// The capture the window and the headless program run on: the system's, with a recording as one
// more input.
std::unique_ptr<AudioCapture> makeLiveAudioCapture(MainLoop& mainLoop);
