#include "app/control/input/InputSelection.h"

#include <algorithm>

#include "app/audio/recording/RecordingDevice.h"
#include "app/settings/SettingsKeys.h"
#include "transport/SystemLog.h"

namespace keys = settings_keys;

namespace {

std::optional<AudioDevice> findByName(const std::vector<AudioDevice>& devices,
                                      const std::string& name) {
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const AudioDevice& device) { return device.name == name; });
    return found != devices.end() ? std::optional(*found) : std::nullopt;
}

}  // namespace

InputSelection::InputSelection(SettingsModel& settings, MainLoop& mainLoop, AudioCapture& capture,
                               ControllerStatus& status, Hooks hooks)
    : settings_(settings),
      mainLoop_(mainLoop),
      capture_(capture),
      status_(status),
      hooks_(std::move(hooks)) {}

void InputSelection::start() {
    choice_ = InputChoice::fromStored(settings_.text(keys::inputDevice));
    select(deviceForChoice(capture_.audioInputDevices()));
    refreshDevices();
}

void InputSelection::setDevices(std::vector<AudioDevice> devices) {
    devices_ = std::move(devices);
    hooks_.propertyChanged(ControllerProperty::audioDevices);
}

void InputSelection::refreshDevices() {
    setDevices(capture_.audioInputDevices());
    capture_.beginConfiguration();
    const std::optional<AudioDevice> wanted = deviceForChoice(devices_);
    if (wanted != selected()) {
        select(wanted);
    }
    capture_.commitConfiguration();
    showDeviceStatus();
    hooks_.changed();
}

void InputSelection::choose(std::optional<AudioDevice> device) {
    choice_ = device ? InputChoice{InputChoice::Kind::device, *device}
                     : InputChoice{InputChoice::Kind::none, {}};
    // Stored at once; settingChanged finds the choice already taken.
    const std::optional<std::string> stored = choice_.stored();
    settings_.assign(keys::inputDevice,
                     stored ? std::optional<SettingValue>(*stored) : std::nullopt);
    select(device);
}

void InputSelection::settingChanged(std::string_view key) {
    if (key != keys::inputDevice) {
        return;
    }
    const InputChoice choice = InputChoice::fromStored(settings_.text(keys::inputDevice));
    if (choice.kind == choice_.kind && choice.device.name == choice_.device.name) {
        return;
    }
    choice_ = choice;
    select(deviceForChoice(devices_));
}

std::optional<AudioDevice> InputSelection::deviceForChoice(
    const std::vector<AudioDevice>& devices) {
    switch (choice_.kind) {
        case InputChoice::Kind::none:
            return std::nullopt;
        case InputChoice::Kind::serverDefault: {
            const std::optional<AudioDevice> fallback = capture_.defaultAudioInputDevice();
            return fallback ? findByName(devices, fallback->name) : std::nullopt;
        }
        case InputChoice::Kind::device: {
            const std::optional<AudioDevice> found = findByName(devices, choice_.device.name);
            if (found) {
                // Remembered, so that a later wait names it as the technician knows it.
                choice_.device.description = found->description;
            }
            // A recording is no device of the server: it is there to open whenever chosen.
            if (!found && recording_device::pathOf(choice_.device.name)) {
                return choice_.device;
            }
            return found;
        }
    }
    return std::nullopt;
}

std::optional<std::string> InputSelection::awaitedDevice() const {
    if (choice_.kind != InputChoice::Kind::device || findByName(devices_, choice_.device.name) ||
        recording_device::pathOf(choice_.device.name)) {
        return std::nullopt;
    }
    return choice_.shownName();
}

void InputSelection::select(const std::optional<AudioDevice>& device) {
    capture_.beginConfiguration();
    if (capture_.currentInput()) {
        capture_.removeInput();
    }
    failure_.clear();
    if (device) {
        std::string error;
        if (!capture_.addInput(*device, error)) {
            mainLoop_.postToMainQueue([error] { systemLog(error); });
            failure_ = "cannot open " + device->description + ": " + error;
        }
    }
    capture_.commitConfiguration();
    // A recording joins the capture's list as it is opened and leaves it as another input is
    // taken, with no word from the server: the list follows it at once.
    const auto isRecording = [](const AudioDevice& listed) {
        return recording_device::pathOf(listed.name).has_value();
    };
    if ((device && isRecording(*device)) || std::ranges::any_of(devices_, isRecording)) {
        setDevices(capture_.audioInputDevices());
    }
    hooks_.propertyChanged(ControllerProperty::selectedAudioDevice);
    showDeviceStatus();
    hooks_.changed();
}

void InputSelection::serverReconnected() {
    setDevices(capture_.audioInputDevices());
    // Unconditionally: the streams of an input kept through the loss are gone.
    select(deviceForChoice(devices_));
}

void InputSelection::inputFailed(const std::string& deviceName, const std::string& error) {
    const std::optional<AudioDevice> device = findByName(devices_, deviceName);
    failure_ = "cannot capture from " + (device ? device->description : deviceName) + ": " + error;
    hooks_.propertyChanged(ControllerProperty::selectedAudioDevice);
    showDeviceStatus();
    hooks_.changed();
}

void InputSelection::showDeviceStatus() {
    status_.deviceError.clear();
    if (!selected()) {
        const std::optional<std::string> awaited = awaitedDevice();
        status_.deviceError = awaited ? "waiting for " + *awaited : failure_;
    }
}
