#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/level/MeterBank.h"
#include "app/audio/tap/SoundTap.h"
#include "transport/MainLoop.h"

// One audio input of the sound server (monitors of outputs included).
struct AudioDevice {
    std::string name;         // the server's identifier, stable while the device exists
    std::string description;  // what the technician sees
    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

// The media-capture service the controller drives: one session with at most one input and a
// preview output that plays the input at its own volume and measures it. All calls on the main
// thread.
class AudioCapture {
  public:
    virtual ~AudioCapture() = default;

    // The server's inputs now, in the server's order; empty without a server.
    virtual std::vector<AudioDevice> audioInputDevices() = 0;
    // The server's default input, or nothing.
    virtual std::optional<AudioDevice> defaultAudioInputDevice() = 0;

    // Configuration batches nest; changes take effect at the outermost commit.
    virtual void beginConfiguration() = 0;
    virtual void commitConfiguration() = 0;
    // Makes `device` the session's input. On failure returns false, fills `error` with a
    // description for the log, and leaves the session without input.
    virtual bool addInput(const AudioDevice& device, std::string& error) = 0;
    virtual void removeInput() = 0;
    virtual std::optional<AudioDevice> currentInput() const = 0;

    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;

    // Preview playback volume, 0.0 to 1.0, linear.
    virtual float previewVolume() const = 0;
    virtual void setPreviewVolume(float volume) = 0;

    // What is metered: the first meter is the first mapping's, and every meter is read on each
    // take. See MeterBank for the limits; the same list again changes nothing. While any meter is
    // fast, the server is asked for fragments of at most 5 ms, and each fast meter's level of
    // each is handed to the fragment handler as soon as it arrives; the tick's readings are the
    // same either way.
    virtual void setMeters(std::vector<MeterSettings> meters) = 0;

    // Takes every meter's reading of what was captured since the previous call, and gives the
    // first meter's: per connection of the preview output, per chosen channel, the average power
    // in dBFS (-160 for silence or no frames). Empty without input, or while a chosen channel of
    // the first meter is missing from the input.
    virtual std::vector<std::vector<float>> channelAveragePowerLevels() = 0;
    // Per meter, of the last take: its levels and sample peak, with its channel choice's error
    // and its band's status as they are now (all clear without input).
    virtual std::vector<MeterReading> meterReadings() const = 0;
    // Of the frames of the last take: the average power in dBFS of the input's loudest single
    // channel, chosen or not, so that a status can tell when the metered channels miss the
    // signal; nothing when the first meter read no level.
    virtual std::optional<float> loudestChannelLevel() const { return std::nullopt; }

    // Called on the capture's own thread for every fragment of at most 5 ms, once per fast meter
    // (counted from 0 in the setMeters() list): the chosen channels' average power (the mean of
    // their dBFS, the tick's figure) and sample peak over the fragment, after the band. It runs
    // with the capture's lock held: it must return quickly and not call the capture (posting to
    // the main thread is fine). Replacing it, or clearing it with an empty function, takes effect
    // before this returns.
    using FragmentLevelHandler = MeterBank::FragmentHandler;
    virtual void setFragmentLevelHandler(FragmentLevelHandler /*handler*/) {}
    // Both at once, taken by the capture's thread between two chunks: no fragment measured for
    // the new meters reaches the old handler, nor one of the old meters the new handler, so that
    // one mapping's level never reaches another's gate.
    virtual void setMetering(std::vector<MeterSettings> meters, FragmentLevelHandler handler) {
        setMeters(std::move(meters));
        setFragmentLevelHandler(std::move(handler));
    }

    // Whether the sound comes as fast as it is played (a device), rather than as fast as it can be
    // read (a replay): an analysis then keeps pace on the capture's own thread, tap by tap.
    virtual bool realTime() const { return true; }

    // Whole-signal analysis (spectrum, tempo) reads the input through taps: every frame the
    // capture's thread receives is written to each tap added, as it arrives. Main thread; adding
    // a tap twice or removing one never added changes nothing.
    virtual void addSoundTap(std::shared_ptr<SoundTap> /*tap*/) {}
    virtual void removeSoundTap(const std::shared_ptr<SoundTap>& /*tap*/) {}

    // Called on the main thread when the server adds or removes an input or changes its default
    // input, and when the server goes away; when it comes back, `serverReconnected` runs instead
    // (the list has changed then too), and the input's streams are gone.
    virtual void setDevicesChangedHandler(std::function<void()> handler) = 0;
    virtual void setServerReconnectedHandler(std::function<void()> handler) = 0;
    // Called on the main thread when the input's capture failed after it was added (the server
    // refused or ended its stream): the session is then already without input.
    using InputFailedHandler =
        std::function<void(const std::string& deviceName, const std::string& error)>;
    virtual void setInputFailedHandler(InputFailedHandler handler) = 0;
};

// The system's capture service.
std::unique_ptr<AudioCapture> makeSystemAudioCapture(MainLoop& mainLoop);
