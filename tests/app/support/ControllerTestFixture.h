#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/control/KestranoController.h"
#include "app/run/QtMainLoop.h"
#include "app/settings/store/QSettingsPreferencesStore.h"
#include "tests/app/support/FakeAudioCapture.h"
#include "tests/support/Udp.h"

// A level indicator that keeps what it was shown.
class RecordingLevelIndicator : public LevelIndicator {
  public:
    void setValue(float value) override {
        this->value = value;
        ++updates;
    }
    float value = -1.0f;
    int updates = 0;
};

// A controller on the Qt main loop and the real settings store (emptied first), sending to a
// UDP receiver of the test and listening on a free port, with a fake capture whose default
// device, the microphone, is selected at start-up unless the settings choose otherwise.
class ControllerTest : public testing::Test {
  protected:
    ControllerTest();

    // Stores the receiver's port as the send port and a free listen port, then starts `T`.
    template <typename T = KestranoController>
    std::unique_ptr<T> startController() {
        preferences.setInteger("zandorexSendPort", receiver.port());
        preferences.setInteger("zandorexListenPort", freeUdpPort());
        return startControllerOnStoredSettings<T>();
    }

    template <typename T = KestranoController>
    std::unique_ptr<T> startControllerOnStoredSettings() {
        auto capture = std::make_unique<FakeAudioCapture>(devicesAtStart, microphone);
        this->capture = capture.get();
        calls = capture->calls;
        auto controller = std::make_unique<T>(mainLoop, preferences, std::move(capture),
                                              [this] { return clockTime; });
        controller->setAudioLevelMeter(&meter);
        controller->awakeFromNib();
        return controller;
    }

    // The next datagram the receiver gets within a second; empty when none came.
    QVOSCData nextDatagram();
    // True when no datagram arrives within a tenth of a second.
    bool nothingSent();

    const AudioDevice microphone{"alsa_input.usb-mic", "USB microphone"};
    // The sources the fake capture offers at start-up; the microphone is the default.
    std::vector<AudioDevice> devicesAtStart{microphone};
    QtMainLoop mainLoop;
    QSettingsPreferencesStore preferences;
    UdpReceiver receiver;
    RecordingLevelIndicator meter;
    // What the controllers started here read as the time.
    MonotonicTime clockTime{};
    FakeAudioCapture* capture = nullptr;  // owned by the controller
    std::shared_ptr<std::vector<std::string>> calls;
};

// The datagram of a level message: `addressText` and one float argument.
QVOSCData levelDatagram(const std::string& addressText, float value);
