#include "tests/app/support/FakeAudioCapture.h"

#include <algorithm>

FakeAudioCapture::FakeAudioCapture(std::vector<AudioDevice> devices,
                                   std::optional<AudioDevice> defaultDevice)
    : devices(std::move(devices)), defaultDevice(std::move(defaultDevice)) {}

FakeAudioCapture::~FakeAudioCapture() {
    calls->push_back("destroyed");
}

void FakeAudioCapture::beginConfiguration() {
    calls->push_back("begin");
}

void FakeAudioCapture::commitConfiguration() {
    calls->push_back("commit");
}

bool FakeAudioCapture::addInput(const AudioDevice& device, std::string& error) {
    calls->push_back("add " + device.name);
    if (failingDevice == device) {
        error = "device " + device.name + " is busy";
        return false;
    }
    input_ = device;
    return true;
}

void FakeAudioCapture::removeInput() {
    calls->push_back("remove");
    input_.reset();
}

void FakeAudioCapture::startRunning() {
    calls->push_back("start");
}

void FakeAudioCapture::stopRunning() {
    calls->push_back("stop");
}

void FakeAudioCapture::setPreviewVolume(float volume) {
    calls->push_back("volume " + std::to_string(volume));
    previewVolume_ = volume;
}

void FakeAudioCapture::setMeters(std::vector<MeterSettings> list) {
    meters = std::move(list);
}

void FakeAudioCapture::setFragmentLevelHandler(FragmentLevelHandler handler) {
    fragmentLevelHandler = std::move(handler);
}

std::vector<std::vector<float>> FakeAudioCapture::channelAveragePowerLevels() {
    calls->push_back("read");
    return input_ ? readings : std::vector<std::vector<float>>();
}

std::vector<MeterReading> FakeAudioCapture::meterReadings() const {
    MeterReading first{{}, input_ ? samplePeak : std::nullopt, channelsError, bandReport};
    // The first meter holds every connection's channels, as the first mapping reads them.
    for (const std::vector<float>& connection : input_ ? readings : decltype(readings){}) {
        first.levels.insert(first.levels.end(), connection.begin(), connection.end());
    }
    std::vector<MeterReading> all(std::max<std::size_t>(meters.size(), 1));
    all.front() = first;
    for (std::size_t index = 1; input_ && index < all.size(); ++index) {
        if (index <= furtherLevels.size()) {
            all[index].levels = furtherLevels[index - 1];
            all[index].samplePeak = samplePeak;
        }
    }
    return all;
}

void FakeAudioCapture::setDevicesChangedHandler(std::function<void()> handler) {
    devicesChanged = std::move(handler);
}

void FakeAudioCapture::setServerReconnectedHandler(std::function<void()> handler) {
    serverReconnected = std::move(handler);
}

void FakeAudioCapture::setInputFailedHandler(InputFailedHandler handler) {
    inputFailed = std::move(handler);
}

void FakeAudioCapture::failInput(const std::string& error) {
    const std::string name = input_ ? input_->name : std::string();
    input_.reset();
    inputFailed(name, error);
}

void FakeAudioCapture::deliverFragment(float averagePowerDb, float samplePeakDb,
                                       std::size_t meter) {
    if (meter < meters.size() && meters[meter].fast && input_ && fragmentLevelHandler) {
        fragmentLevelHandler(meter, averagePowerDb, samplePeakDb);
    }
}
