#include "app/audio/PulseAudioCapture.h"

PulseAudioCapture::PulseAudioCapture(MainLoop& mainLoop) : mainLoop_(mainLoop) {}
PulseAudioCapture::~PulseAudioCapture() = default;

std::vector<AudioDevice> PulseAudioCapture::audioInputDevices() {
    return {};
}
std::optional<AudioDevice> PulseAudioCapture::defaultAudioInputDevice() {
    return std::nullopt;
}
void PulseAudioCapture::beginConfiguration() {}
void PulseAudioCapture::commitConfiguration() {}
bool PulseAudioCapture::addInput(const AudioDevice& device, std::string& error) {
    error = "no such source: " + device.name;
    return false;
}
void PulseAudioCapture::removeInput() {
    input_.reset();
}
std::optional<AudioDevice> PulseAudioCapture::currentInput() const {
    return input_;
}
void PulseAudioCapture::startRunning() {}
void PulseAudioCapture::stopRunning() {}
float PulseAudioCapture::previewVolume() const {
    return previewVolume_;
}
void PulseAudioCapture::setPreviewVolume(float volume) {
    previewVolume_ = volume;
}
std::vector<std::vector<float>> PulseAudioCapture::channelAveragePowerLevels() {
    return {};
}
void PulseAudioCapture::setDevicesChangedHandler(std::function<void()>) {}
void PulseAudioCapture::setServerReconnectedHandler(std::function<void()>) {}

std::unique_ptr<AudioCapture> makeSystemAudioCapture(MainLoop& mainLoop) {
    return std::make_unique<PulseAudioCapture>(mainLoop);
}
