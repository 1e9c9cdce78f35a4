#include "app/audio/pulse/PulseAudioCapture.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "transport/SystemLog.h"

namespace {

// Long enough for a busy local server to answer, short enough that a hung one does not make
// start-up feel stuck; the connection carries on in the background either way.
constexpr std::chrono::milliseconds kStartupWait{1500};

}  // namespace

PulseAudioCapture::PulseAudioCapture(MainLoop& mainLoop)
    : mainLoop_(mainLoop),
      link_(loop_, [this](PulseServerLink::Event event) { onServerEvent(event); }) {
    handlers_->dropFailedInput = [this](const std::string& sourceName, const std::string& error) {
        dropFailedInput(sourceName, error);
    };
    std::string notice;
    {
        std::lock_guard lock(loop_);
        link_.connect();
        if (!loop_.waitUntil([this] { return link_.firstAttemptSettled(); }, kStartupWait)) {
            notice = "sound server: no answer yet, still trying";
        } else if (!link_.isReady()) {
            notice = "sound server: " + link_.lastError() + "; no input device until it appears";
        }
        constructed_ = true;
    }
    // Logged with the loop's lock released, like every line of the capture's.
    if (!notice.empty()) {
        systemLog(notice);
    }
}

PulseAudioCapture::~PulseAudioCapture() {
    {
        std::lock_guard lock(loop_);
        streams_.reset();
        link_.close();
    }
    handlers_.reset();
}

std::vector<AudioDevice> PulseAudioCapture::audioInputDevices() {
    std::lock_guard lock(loop_);
    std::vector<AudioDevice> devices;
    devices.reserve(link_.sources().size());
    for (const PulseSource& source : link_.sources()) {
        devices.push_back(source.device);
    }
    return devices;
}

std::optional<AudioDevice> PulseAudioCapture::defaultAudioInputDevice() {
    std::lock_guard lock(loop_);
    for (const PulseSource& source : link_.sources()) {
        if (source.device.name == link_.defaultSourceName()) {
            return source.device;
        }
    }
    return std::nullopt;
}

void PulseAudioCapture::beginConfiguration() {
    ++configurationDepth_;
}

void PulseAudioCapture::commitConfiguration() {
    if (configurationDepth_ > 0) {
        --configurationDepth_;
    }
    if (configurationDepth_ == 0 && configurationPending_) {
        applyConfiguration();
    }
}

bool PulseAudioCapture::addInput(const AudioDevice& device, std::string& error) {
    std::optional<PulseSource> found;
    {
        std::lock_guard lock(loop_);
        if (!link_.isReady()) {
            error = "no sound server (" + link_.lastError() + ")";
        } else {
            const auto& sources = link_.sources();
            const auto match = std::find_if(sources.begin(), sources.end(), [&](const auto& s) {
                return s.device.name == device.name;
            });
            if (match == sources.end()) {
                error = "no such source: " + device.name;
            } else {
                found = *match;
            }
        }
    }
    input_ = found;
    configurationChanged();
    return found.has_value();
}

void PulseAudioCapture::removeInput() {
    input_.reset();
    configurationChanged();
}

std::optional<AudioDevice> PulseAudioCapture::currentInput() const {
    if (!input_) {
        return std::nullopt;
    }
    return input_->device;
}

void PulseAudioCapture::startRunning() {
    running_ = true;
    configurationChanged();
}

void PulseAudioCapture::stopRunning() {
    running_ = false;
    configurationChanged();
}

float PulseAudioCapture::previewVolume() const {
    return path_.previewVolume();
}

void PulseAudioCapture::setPreviewVolume(float volume) {
    path_.setPreviewVolume(volume);
}

void PulseAudioCapture::setMeters(std::vector<MeterSettings> meters) {
    {
        std::lock_guard lock(loop_);
        path_.meters.configure(std::move(meters));
    }
    metersChanged();
}

void PulseAudioCapture::setMetering(std::vector<MeterSettings> meters,
                                    FragmentLevelHandler handler) {
    {
        // The loop's thread feeds the meters with its lock held: both change between two chunks.
        std::lock_guard lock(loop_);
        path_.meters.configure(std::move(meters));
        path_.fragmentLevelHandler = std::move(handler);
    }
    metersChanged();
}

void PulseAudioCapture::metersChanged() {
    updateChannelErrors();
    if (metering_.anyMeterFast() == fastResponse_) {
        return;
    }
    fastResponse_ = metering_.anyMeterFast();
    // The streams open carry on, with fragments of the new length.
    std::lock_guard lock(loop_);
    if (streams_) {
        streams_->setFastResponse(fastResponse_);
    }
}

void PulseAudioCapture::updateChannelErrors() {
    metering_.checkChannels(input_ ? std::optional(input_->device) : std::nullopt,
                            input_ ? input_->sampleSpec.channels : 0);
}

std::vector<std::vector<float>> PulseAudioCapture::channelAveragePowerLevels() {
    return metering_.take(input_.has_value());
}

std::vector<MeterReading> PulseAudioCapture::meterReadings() const {
    return metering_.readings(input_.has_value());
}

void PulseAudioCapture::setFragmentLevelHandler(FragmentLevelHandler handler) {
    std::lock_guard lock(loop_);
    path_.fragmentLevelHandler = std::move(handler);
}

void PulseAudioCapture::addSoundTap(std::shared_ptr<SoundTap> tap) {
    std::lock_guard lock(loop_);
    if (tap &&
        std::find(path_.soundTaps.begin(), path_.soundTaps.end(), tap) == path_.soundTaps.end())
        path_.soundTaps.push_back(std::move(tap));
}

void PulseAudioCapture::removeSoundTap(const std::shared_ptr<SoundTap>& tap) {
    std::lock_guard lock(loop_);
    std::erase(path_.soundTaps, tap);
}

void PulseAudioCapture::setDevicesChangedHandler(std::function<void()> handler) {
    handlers_->devicesChanged = std::move(handler);
}

void PulseAudioCapture::setServerReconnectedHandler(std::function<void()> handler) {
    handlers_->serverReconnected = std::move(handler);
}

void PulseAudioCapture::setInputFailedHandler(InputFailedHandler handler) {
    handlers_->inputFailed = std::move(handler);
}

void PulseAudioCapture::configurationChanged() {
    updateChannelErrors();
    fastResponse_ = metering_.anyMeterFast();
    configurationPending_ = true;
    if (configurationDepth_ == 0) {
        applyConfiguration();
    }
}

void PulseAudioCapture::applyConfiguration() {
    configurationPending_ = false;
    std::string error;
    bool failed = false;
    {
        std::lock_guard lock(loop_);
        // Fresh streams for every change, so re-selecting a device restarts its capture.
        streams_.reset();
        // A change of the response alone keeps the meters: they carry on where they were.
        const auto sameInput = [](const std::optional<PulseSource>& one,
                                  const std::optional<PulseSource>& other) {
            return one.has_value() == other.has_value() &&
                   (!one || (one->device.name == other->device.name &&
                             pa_sample_spec_equal(&one->sampleSpec, &other->sampleSpec) != 0));
        };
        if (!sameInput(input_, meteredInput_)) {
            path_.meters.reset(input_ ? input_->sampleSpec.channels : 0,
                               input_ ? input_->sampleSpec.rate : 0.0);
            meteredInput_ = input_;
        }
        if (running_ && input_) {
            const std::string name = input_->device.name;
            streams_ = PulseInputStreams::open(
                link_.context(), *input_, path_, fastResponse_,
                [this, name](const std::string& reason) { postInputFailure(name, reason); }, error);
            failed = !streams_;
        }
    }
    if (failed) {
        postInputFailure(input_->device.name, error);
    }
}

void PulseAudioCapture::postInputFailure(const std::string& sourceName, const std::string& error) {
    mainLoop_.postToMainThread([handlers = weakHandlers_, sourceName, error] {
        if (const auto alive = handlers.lock()) {
            alive->dropFailedInput(sourceName, error);
        }
    });
}

void PulseAudioCapture::dropFailedInput(const std::string& sourceName, const std::string& error) {
    // A failure of an input replaced since is old news.
    if (!input_ || input_->device.name != sourceName) {
        return;
    }
    systemLog("audio input " + sourceName + ": " + error);
    input_.reset();
    configurationChanged();
    if (handlers_->inputFailed) {
        handlers_->inputFailed(sourceName, error);
    }
}

void PulseAudioCapture::onServerEvent(PulseServerLink::Event event) {
    switch (event) {
        case PulseServerLink::Event::connected:
            logFromLoop("sound server: connected");
            // The constructor's callers read the list themselves; later connections are news.
            if (constructed_) {
                postToHandlers(true);
            }
            break;
        case PulseServerLink::Event::sourcesChanged:
            postToHandlers(false);
            break;
        case PulseServerLink::Event::lost:
            logFromLoop("sound server: connection lost (" + link_.lastError() + ")");
            streams_.reset();
            postToHandlers(false);
            break;
    }
}

void PulseAudioCapture::logFromLoop(std::string line) {
    // The loop's thread holds the loop's lock here, which every other call into the capture
    // waits for: the line is written on the main thread instead, however long that takes.
    mainLoop_.postToMainThread([line = std::move(line)] { systemLog(line); });
}

void PulseAudioCapture::postToHandlers(bool serverReconnected) {
    mainLoop_.postToMainThread([handlers = weakHandlers_, serverReconnected] {
        const auto alive = handlers.lock();
        if (!alive) {
            return;
        }
        // A reconnection is told once: a selection made for the changed list and then made
        // again for the reconnection would open the input's streams twice, and a source that
        // renders ahead would give its first block to the streams closed at once.
        if (serverReconnected && alive->serverReconnected) {
            alive->serverReconnected();
        } else if (alive->devicesChanged) {
            alive->devicesChanged();
        }
    });
}

std::unique_ptr<AudioCapture> makeSystemAudioCapture(MainLoop& mainLoop) {
    return std::make_unique<PulseAudioCapture>(mainLoop);
}
