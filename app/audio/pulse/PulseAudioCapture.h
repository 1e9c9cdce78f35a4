#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/audio/InputMetering.h"
#include "app/audio/level/MeterBank.h"
#include "app/audio/pulse/PulseInputStreams.h"
#include "app/audio/pulse/PulseServerLink.h"
#include "app/audio/pulse/PulseThreadedLoop.h"

// The capture service on a PulseAudio (or pipewire-pulse) server, through libpulse. The device
// list and the default source are kept current by the loop thread from the server's events, so
// the main thread reads them without asking the server; only construction waits for the server,
// and for a bounded time.
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
    void setMeters(std::vector<MeterSettings> meters) override;
    std::vector<std::vector<float>> channelAveragePowerLevels() override;
    std::vector<MeterReading> meterReadings() const override;
    std::optional<float> loudestChannelLevel() const override { return metering_.loudestChannel(); }
    void setFragmentLevelHandler(FragmentLevelHandler handler) override;
    void setMetering(std::vector<MeterSettings> meters, FragmentLevelHandler handler) override;
    void addSoundTap(std::shared_ptr<SoundTap> tap) override;
    void removeSoundTap(const std::shared_ptr<SoundTap>& tap) override;
    void setDevicesChangedHandler(std::function<void()> handler) override;
    void setServerReconnectedHandler(std::function<void()> handler) override;
    void setInputFailedHandler(InputFailedHandler handler) override;

  private:
    struct Handlers {
        std::function<void()> devicesChanged;
        std::function<void()> serverReconnected;
        InputFailedHandler inputFailed;
        // The capture's own, for failures found on the loop thread.
        InputFailedHandler dropFailedInput;
    };

    // Loop thread: what the server did, passed on to the main thread.
    void onServerEvent(PulseServerLink::Event event);
    void postToHandlers(bool serverReconnected);
    // Logs a line of the loop's thread once the main thread gets to it.
    void logFromLoop(std::string line);
    // Any thread: the capture of `sourceName` failed; the main thread drops that input.
    void postInputFailure(const std::string& sourceName, const std::string& error);
    void dropFailedInput(const std::string& sourceName, const std::string& error);
    // Main thread: applies the input and the running state now, or at the outermost commit.
    void configurationChanged();
    void applyConfiguration();
    // Main thread: checks each meter's chosen channels against the input.
    void updateChannelErrors();
    // Main thread: what follows a change of the meters.
    void metersChanged();

    MainLoop& mainLoop_;
    // The handlers live on the main thread; calls posted from the loop thread hold them weakly,
    // so that a call arriving after destruction does nothing.
    std::shared_ptr<Handlers> handlers_ = std::make_shared<Handlers>();
    const std::weak_ptr<Handlers> weakHandlers_ = handlers_;

    // Main thread only.
    int configurationDepth_ = 0;
    bool configurationPending_ = false;
    bool running_ = false;
    std::optional<PulseSource> input_;
    // The streams' response: fast while any meter is.
    bool fastResponse_ = false;
    // The input the meters were last started over for (channels, rate): streams opened again
    // for the same input carry on with the meters' sums and filters.
    std::optional<PulseSource> meteredInput_;

    // Shared with the loop thread; declared before the loop, so that it outlives the callbacks.
    SoundPath path_;
    InputMetering metering_{path_.meters};

    // Guarded by the loop's lock. The loop is declared first so that it outlives the others.
    PulseThreadedLoop loop_;
    PulseServerLink link_;
    std::unique_ptr<PulseInputStreams> streams_;
    bool constructed_ = false;
};
