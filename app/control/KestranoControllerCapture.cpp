// The capture's input device and its preview volume.
#include <algorithm>

#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"
#include "transport/SystemLog.h"

namespace {

std::optional<AudioDevice> findByName(const std::vector<AudioDevice>& devices,
                                      const std::string& name) {
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const AudioDevice& device) { return device.name == name; });
    return found != devices.end() ? std::optional(*found) : std::nullopt;
}

}  // namespace

void KestranoController::setAudioDevices(std::vector<AudioDevice> devices) {
    audioDevices_ = std::move(devices);
    propertyChanged(ControllerProperty::audioDevices);
}

void KestranoController::refreshDevices() {
    setAudioDevices(session_->audioInputDevices());
    session_->beginConfiguration();
    const std::optional<AudioDevice> wanted = deviceForChoice(audioDevices_);
    if (wanted != selectedAudioDevice()) {
        selectInput(wanted);
    }
    session_->commitConfiguration();
    showDeviceStatus();
    statusChanged();
}

std::optional<AudioDevice> KestranoController::selectedAudioDevice() const {
    return session_->currentInput();
}

void KestranoController::setSelectedAudioDevice(std::optional<AudioDevice> device) {
    inputChoice_ = device ? InputChoice{InputChoice::Kind::device, *device}
                          : InputChoice{InputChoice::Kind::none, {}};
    // Stored at once; captureSettingChanged finds the choice already taken.
    const std::optional<std::string> stored = inputChoice_.stored();
    settings_.assign(settings_keys::inputDevice,
                     stored ? std::optional<SettingValue>(*stored) : std::nullopt);
    selectInput(device);
}

void KestranoController::captureSettingChanged(std::string_view key) {
    namespace keys = settings_keys;
    if (key != keys::inputDevice) {
        return;
    }
    const InputChoice choice = InputChoice::fromStored(settings_.text(keys::inputDevice));
    if (choice.kind == inputChoice_.kind && choice.device.name == inputChoice_.device.name) {
        return;
    }
    inputChoice_ = choice;
    selectInput(deviceForChoice(audioDevices_));
}

std::optional<AudioDevice> KestranoController::deviceForChoice(
    const std::vector<AudioDevice>& devices) {
    switch (inputChoice_.kind) {
        case InputChoice::Kind::none:
            return std::nullopt;
        case InputChoice::Kind::serverDefault: {
            const std::optional<AudioDevice> fallback = session_->defaultAudioInputDevice();
            return fallback ? findByName(devices, fallback->name) : std::nullopt;
        }
        case InputChoice::Kind::device: {
            const std::optional<AudioDevice> found = findByName(devices, inputChoice_.device.name);
            if (found) {
                // Remembered, so that a later wait names it as the technician knows it.
                inputChoice_.device.description = found->description;
            }
            return found;
        }
    }
    return std::nullopt;
}

std::optional<std::string> KestranoController::awaitedDevice() const {
    if (inputChoice_.kind != InputChoice::Kind::device ||
        findByName(audioDevices_, inputChoice_.device.name)) {
        return std::nullopt;
    }
    return inputChoice_.shownName();
}

void KestranoController::selectInput(const std::optional<AudioDevice>& device) {
    session_->beginConfiguration();
    if (session_->currentInput()) {
        session_->removeInput();
    }
    inputFailure_.clear();
    if (device) {
        std::string error;
        if (!session_->addInput(*device, error)) {
            mainLoop_.postToMainQueue([error] { systemLog(error); });
            inputFailure_ = "cannot open " + device->description + ": " + error;
        }
    }
    session_->commitConfiguration();
    propertyChanged(ControllerProperty::selectedAudioDevice);
    showDeviceStatus();
    statusChanged();
}

void KestranoController::reselectAfterServerReconnected() {
    setAudioDevices(session_->audioInputDevices());
    // Unconditionally: the streams of an input kept through the loss are gone.
    selectInput(deviceForChoice(audioDevices_));
}

void KestranoController::inputFailed(const std::string& deviceName, const std::string& error) {
    const std::optional<AudioDevice> device = findByName(audioDevices_, deviceName);
    inputFailure_ =
        "cannot capture from " + (device ? device->description : deviceName) + ": " + error;
    propertyChanged(ControllerProperty::selectedAudioDevice);
    showDeviceStatus();
    statusChanged();
}

void KestranoController::showDeviceStatus() {
    status_.deviceError.clear();
    if (!selectedAudioDevice()) {
        const std::optional<std::string> awaited = awaitedDevice();
        status_.deviceError = awaited ? "waiting for " + *awaited : inputFailure_;
    }
}

float KestranoController::previewVolume() const {
    return session_->previewVolume();
}

void KestranoController::setPreviewVolume(float volume) {
    session_->setPreviewVolume(volume);
    propertyChanged(ControllerProperty::previewVolume);
}
