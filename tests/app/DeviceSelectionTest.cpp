// The capture's input: start-up choice, replacing it, failures, devices coming and going.
#include "tests/app/AppTestEnvironment.h"
#include "tests/app/ControllerTestFixture.h"

namespace {

class DeviceSelectionTest : public ControllerTest {
  protected:
    // Starts with the fixture's microphone and a monitor source; the microphone is the default.
    std::unique_ptr<KestranoController> start() {
        auto controller = startController();
        capture->devices.push_back(monitor);
        controller->refreshDevices();
        calls->clear();
        return controller;
    }

    const AudioDevice monitor{"speakers.monitor", "Monitor of speakers"};
};

TEST_F(DeviceSelectionTest, StartUpSelectsTheDefaultInputSilentlyAndStartsTheCapture) {
    startController();

    const std::vector<std::string> expected = {
        "volume 0.000000", "begin", "add alsa_input.usb-mic", "commit", "begin", "commit", "start"};
    EXPECT_EQ(std::vector<std::string>(calls->begin(), calls->begin() + 7), expected);
}

TEST_F(DeviceSelectionTest, SelectingReplacesTheInputInOneBatchAlsoForTheSameDevice) {
    const auto controller = start();

    controller->setSelectedAudioDevice(microphone);
    controller->setSelectedAudioDevice(monitor);
    controller->setSelectedAudioDevice(std::nullopt);

    EXPECT_EQ(*calls, (std::vector<std::string>{"begin", "remove", "add alsa_input.usb-mic",
                                                "commit", "begin", "remove", "add speakers.monitor",
                                                "commit", "begin", "remove", "commit"}));
    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
}

TEST_F(DeviceSelectionTest, AFailedSelectionLeavesNoInputAndLogsTheErrorLater) {
    const auto controller = start();
    capture->failingDevice = monitor;

    testing::internal::CaptureStderr();
    controller->setSelectedAudioDevice(monitor);
    const std::string beforeTheLoopRan = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    processEventsFor(std::chrono::milliseconds(20));
    const std::string logged = testing::internal::GetCapturedStderr();

    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
    EXPECT_EQ(beforeTheLoopRan, "");
    EXPECT_NE(logged.find("device speakers.monitor is busy"), std::string::npos) << logged;
    EXPECT_EQ(controller->status().deviceError,
              "cannot open Monitor of speakers: device speakers.monitor is busy");
}

TEST_F(DeviceSelectionTest, RefreshDropsAVanishedDeviceAndKeepsAPresentOne) {
    const auto controller = start();
    capture->devices = {microphone};
    controller->refreshDevices();
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);
    EXPECT_EQ(controller->audioDevices(), std::vector<AudioDevice>{microphone});

    capture->devices = {monitor};
    capture->devicesChanged();

    EXPECT_EQ(controller->audioDevices(), std::vector<AudioDevice>{monitor});
    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
}

TEST_F(DeviceSelectionTest, ServerComebackSelectsTheChosenDeviceOrElseTheDefault) {
    const auto controller = start();
    controller->setSelectedAudioDevice(monitor);

    // The server goes away: no devices, no input.
    capture->devices = {};
    capture->devicesChanged();
    ASSERT_EQ(controller->selectedAudioDevice(), std::nullopt);

    capture->devices = {microphone, monitor};
    capture->serverReconnected();
    EXPECT_EQ(controller->selectedAudioDevice(), monitor);

    capture->devices = {microphone};
    capture->devicesChanged();
    capture->serverReconnected();
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);
}

}  // namespace
