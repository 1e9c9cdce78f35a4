#include "app/audio/recording/RecordingInputCapture.h"

#include <algorithm>
#include <filesystem>

#include "app/audio/recording/RecordingDevice.h"
#include "transport/SystemLog.h"

RecordingInputCapture::RecordingInputCapture(MainLoop& mainLoop,
                                             std::unique_ptr<AudioCapture> system)
    : mainLoop_(mainLoop), system_(std::move(system)) {}

RecordingInputCapture::~RecordingInputCapture() {
    player_.reset();
}

std::vector<AudioDevice> RecordingInputCapture::audioInputDevices() {
    std::vector<AudioDevice> devices = system_->audioInputDevices();
    if (recording_) {
        devices.push_back(recording_->device);
    }
    return devices;
}

std::optional<AudioDevice> RecordingInputCapture::defaultAudioInputDevice() {
    return system_->defaultAudioInputDevice();
}

void RecordingInputCapture::beginConfiguration() {
    ++configurationDepth_;
    system_->beginConfiguration();
}

void RecordingInputCapture::commitConfiguration() {
    system_->commitConfiguration();
    configurationDepth_ = std::max(configurationDepth_ - 1, 0);
    applyPlayer();
}

bool RecordingInputCapture::addInput(const AudioDevice& device, std::string& error) {
    const std::optional<std::string> path = recording_device::pathOf(device.name);
    if (!path) {
        stopRecording();
        return system_->addInput(device, error);
    }
    if (system_->currentInput()) {
        system_->removeInput();
    }
    stopRecording();
    // Only a file: a pipe or a device node would hold the main thread until it answers.
    std::error_code status;
    if (!std::filesystem::is_regular_file(*path, status)) {
        error = *path + ": " + (status ? status.message() : std::string("not a regular file"));
        return false;
    }
    opened_ = RecordingFile::open(*path, error);
    if (!opened_) {
        return false;
    }
    recording_ = Recording{recording_device::named(*path), *path, opened_->channelCount()};
    {
        // Nothing feeds now; the lock orders this before the next player's first piece.
        std::lock_guard lock(pathLock_);
        path_.meters.reset(opened_->channelCount(), opened_->sampleRate());
    }
    metering_.checkChannels(recording_->device, static_cast<unsigned>(recording_->channelCount));
    applyPlayer();
    return true;
}

void RecordingInputCapture::removeInput() {
    stopRecording();
    system_->removeInput();
}

std::optional<AudioDevice> RecordingInputCapture::currentInput() const {
    return recording_ ? std::optional(recording_->device) : system_->currentInput();
}

void RecordingInputCapture::startRunning() {
    running_ = true;
    system_->startRunning();
    applyPlayer();
}

void RecordingInputCapture::stopRunning() {
    running_ = false;
    system_->stopRunning();
    applyPlayer();
}

float RecordingInputCapture::previewVolume() const {
    return system_->previewVolume();
}

void RecordingInputCapture::setPreviewVolume(float volume) {
    system_->setPreviewVolume(volume);
    path_.setPreviewVolume(volume);
}

void RecordingInputCapture::setMeters(std::vector<MeterSettings> meters) {
    {
        std::lock_guard lock(pathLock_);
        path_.meters.configure(meters);
    }
    system_->setMeters(std::move(meters));
    metersChanged();
}

void RecordingInputCapture::setMetering(std::vector<MeterSettings> meters,
                                        FragmentLevelHandler handler) {
    {
        // Both between two pieces, as the system's capture takes them between two chunks.
        std::lock_guard lock(pathLock_);
        path_.meters.configure(meters);
        path_.fragmentLevelHandler = handler;
    }
    system_->setMetering(std::move(meters), std::move(handler));
    metersChanged();
}

void RecordingInputCapture::metersChanged() {
    fast_.store(metering_.anyMeterFast(), std::memory_order_relaxed);
    metering_.checkChannels(recording_ ? std::optional(recording_->device) : std::nullopt,
                            recording_ ? static_cast<unsigned>(recording_->channelCount) : 0);
}

std::vector<std::vector<float>> RecordingInputCapture::channelAveragePowerLevels() {
    return recording_ ? metering_.take(true) : system_->channelAveragePowerLevels();
}

std::vector<MeterReading> RecordingInputCapture::meterReadings() const {
    return recording_ ? metering_.readings(true) : system_->meterReadings();
}

std::optional<float> RecordingInputCapture::loudestChannelLevel() const {
    return recording_ ? metering_.loudestChannel() : system_->loudestChannelLevel();
}

void RecordingInputCapture::setFragmentLevelHandler(FragmentLevelHandler handler) {
    {
        std::lock_guard lock(pathLock_);
        path_.fragmentLevelHandler = handler;
    }
    system_->setFragmentLevelHandler(std::move(handler));
}

void RecordingInputCapture::addSoundTap(std::shared_ptr<SoundTap> tap) {
    {
        std::lock_guard lock(pathLock_);
        if (tap && std::ranges::find(path_.soundTaps, tap) == path_.soundTaps.end()) {
            path_.soundTaps.push_back(tap);
        }
    }
    system_->addSoundTap(std::move(tap));
}

void RecordingInputCapture::removeSoundTap(const std::shared_ptr<SoundTap>& tap) {
    {
        std::lock_guard lock(pathLock_);
        std::erase(path_.soundTaps, tap);
    }
    system_->removeSoundTap(tap);
}

void RecordingInputCapture::setDevicesChangedHandler(std::function<void()> handler) {
    system_->setDevicesChangedHandler(std::move(handler));
}

void RecordingInputCapture::setServerReconnectedHandler(std::function<void()> handler) {
    system_->setServerReconnectedHandler(std::move(handler));
}

void RecordingInputCapture::setInputFailedHandler(InputFailedHandler handler) {
    inputFailed_ = handler;
    system_->setInputFailedHandler(std::move(handler));
}

void RecordingInputCapture::applyPlayer() {
    const bool wanted = running_ && recording_ && configurationDepth_ == 0;
    if (!wanted) {
        player_.reset();
        return;
    }
    if (player_) {
        return;
    }
    const std::uint64_t generation = ++playerGeneration_;
    std::string problem;
    std::unique_ptr<RecordingFile> file =
        opened_ ? std::move(opened_) : RecordingFile::open(recording_->path, problem);
    if (!file) {
        postFailure(generation, problem);
        return;
    }
    player_ = std::make_unique<RecordingPlayer>(
        std::move(file), path_, pathLock_, fast_,
        [this, generation](const std::string& error) { postFailure(generation, error); });
}

void RecordingInputCapture::stopRecording() {
    player_.reset();
    opened_.reset();
    if (recording_) {
        recording_.reset();
        metering_.checkChannels(std::nullopt, 0);
    }
}

void RecordingInputCapture::postFailure(std::uint64_t generation, const std::string& error) {
    mainLoop_.postToMainThread([self = std::weak_ptr(self_), generation, error] {
        if (const auto alive = self.lock()) {
            (*alive)->dropFailedRecording(generation, error);
        }
    });
}

void RecordingInputCapture::dropFailedRecording(std::uint64_t generation,
                                                const std::string& error) {
    // A failure of a player replaced since is old news.
    if (generation != playerGeneration_ || !recording_) {
        return;
    }
    const std::string name = recording_->device.name;
    systemLog("audio input " + name + ": " + error);
    stopRecording();
    if (inputFailed_) {
        inputFailed_(name, error);
    }
}

std::unique_ptr<AudioCapture> makeLiveAudioCapture(MainLoop& mainLoop) {
    return std::make_unique<RecordingInputCapture>(mainLoop, makeSystemAudioCapture(mainLoop));
}
