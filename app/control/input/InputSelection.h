#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/audio/AudioCapture.h"
#include "app/control/ControllerObserver.h"
#include "app/control/input/InputChoice.h"
#include "app/settings/SettingsModel.h"
#include "transport/MainLoop.h"

// The capture's input: the devices on offer, the technician's choice kept under "inputDevice",
// and the device that choice asks for now, followed through device changes, a lost sound server
// and a failed stream. Everything runs on the main thread.
class InputSelection {
  public:
    struct Hooks {
        // The list of devices or the selected one changed.
        std::function<void(ControllerProperty property)> propertyChanged;
        // The input's part of the status changed.
        std::function<void()> changed;
    };

    // `status` receives why there is no input.
    InputSelection(SettingsModel& settings, MainLoop& mainLoop, AudioCapture& capture,
                   ControllerStatus& status, Hooks hooks);
    InputSelection(const InputSelection&) = delete;
    InputSelection& operator=(const InputSelection&) = delete;

    // Start-up: takes the stored choice and selects what it asks for among the capture's devices.
    void start();

    const std::vector<AudioDevice>& devices() const { return devices_; }
    void setDevices(std::vector<AudioDevice> devices);
    // Reloads the list and selects what the choice asks for now: a device that appeared is
    // taken, one that went is dropped, and a new default source is followed.
    void refreshDevices();
    std::optional<AudioDevice> selected() const { return capture_.currentInput(); }
    // The technician's choice (nothing for "No input"): stored at once and selected.
    void choose(std::optional<AudioDevice> device);
    const InputChoice& choice() const { return choice_; }
    // How the chosen device is named while it is absent and waited for; nothing otherwise.
    std::optional<std::string> awaitedDevice() const;

    // Follows the input setting.
    void settingChanged(std::string_view key);
    // The sound server is back: the streams of an input kept through the loss are gone.
    void serverReconnected();
    // The capture could not go on with `deviceName`.
    void inputFailed(const std::string& deviceName, const std::string& error);

  private:
    // The device the choice asks for among `devices`, or nothing.
    std::optional<AudioDevice> deviceForChoice(const std::vector<AudioDevice>& devices);
    void select(const std::optional<AudioDevice>& device);
    void showDeviceStatus();

    SettingsModel& settings_;
    MainLoop& mainLoop_;
    AudioCapture& capture_;
    ControllerStatus& status_;
    Hooks hooks_;
    std::vector<AudioDevice> devices_;
    InputChoice choice_;
    // Why the last selection found no input; empty when it did.
    std::string failure_;
};
