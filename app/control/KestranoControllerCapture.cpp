// The capture's input device and preview volume.
#include <algorithm>

#include "app/control/KestranoController.h"
#include "transport/SystemLog.h"

void KestranoController::setAudioDevices(std::vector<AudioDevice> devices) {
    audioDevices_ = std::move(devices);
    propertyChanged(ControllerProperty::audioDevices);
}

void KestranoController::refreshDevices() {
    setAudioDevices(session_->audioInputDevices());
    session_->beginConfiguration();
    const std::optional<AudioDevice> selected = selectedAudioDevice();
    if (selected &&
        std::find(audioDevices_.begin(), audioDevices_.end(), *selected) == audioDevices_.end()) {
        selectInput(std::nullopt);
    }
    session_->commitConfiguration();
}

std::optional<AudioDevice> KestranoController::selectedAudioDevice() const {
    return session_->currentInput();
}

void KestranoController::setSelectedAudioDevice(std::optional<AudioDevice> device) {
    chosenAudioDevice_ = device;
    selectInput(device);
}

void KestranoController::selectInput(const std::optional<AudioDevice>& device) {
    session_->beginConfiguration();
    if (session_->currentInput()) {
        session_->removeInput();
    }
    status_.deviceError.clear();
    if (device) {
        std::string error;
        if (!session_->addInput(*device, error)) {
            mainLoop_.postToMainQueue([error] { systemLog(error); });
            status_.deviceError = "cannot open " + device->description + ": " + error;
        }
    }
    session_->commitConfiguration();
    propertyChanged(ControllerProperty::selectedAudioDevice);
    statusChanged();
}

void KestranoController::reselectAfterServerReconnected() {
    setAudioDevices(session_->audioInputDevices());
    const bool chosenIsPresent =
        chosenAudioDevice_ && std::find(audioDevices_.begin(), audioDevices_.end(),
                                        *chosenAudioDevice_) != audioDevices_.end();
    selectInput(chosenIsPresent ? chosenAudioDevice_ : session_->defaultAudioInputDevice());
}

float KestranoController::previewVolume() const {
    return session_->previewVolume();
}

void KestranoController::setPreviewVolume(float volume) {
    session_->setPreviewVolume(volume);
    propertyChanged(ControllerProperty::previewVolume);
}
