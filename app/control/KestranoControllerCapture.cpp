// The capture's input device and its preview volume.
#include "app/control/KestranoController.h"

void KestranoController::setAudioDevices(std::vector<AudioDevice> devices) {
    input_.setDevices(std::move(devices));
}

void KestranoController::refreshDevices() {
    input_.refreshDevices();
}

std::optional<AudioDevice> KestranoController::selectedAudioDevice() const {
    return input_.selected();
}

void KestranoController::setSelectedAudioDevice(std::optional<AudioDevice> device) {
    input_.choose(std::move(device));
}

std::optional<std::string> KestranoController::awaitedDevice() const {
    return input_.awaitedDevice();
}

float KestranoController::previewVolume() const {
    return session_->previewVolume();
}

void KestranoController::setPreviewVolume(float volume) {
    session_->setPreviewVolume(volume);
    propertyChanged(ControllerProperty::previewVolume);
}
