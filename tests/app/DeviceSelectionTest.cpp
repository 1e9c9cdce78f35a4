// The capture's input: start-up choice, replacing it, failures, devices coming and going.
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

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

TEST_F(DeviceSelectionTest, ServerComebackAndReplugKeepTheChoiceAndNeverFallBackToAnother) {
    const auto controller = start();
    controller->setSelectedAudioDevice(monitor);

    // The server goes away: no devices, no input, and the status says what is awaited.
    capture->devices = {};
    capture->devicesChanged();
    ASSERT_EQ(controller->selectedAudioDevice(), std::nullopt);
    EXPECT_EQ(controller->status().deviceError, "waiting for Monitor of speakers");

    capture->devices = {microphone, monitor};
    capture->devicesChanged();
    capture->serverReconnected();
    EXPECT_EQ(controller->selectedAudioDevice(), monitor);
    EXPECT_EQ(controller->status().deviceError, "");

    // Back without the chosen device: nothing is captured, the default is not taken instead.
    capture->devices = {microphone};
    capture->devicesChanged();
    capture->serverReconnected();
    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
    EXPECT_EQ(controller->awaitedDevice(), "Monitor of speakers");

    // It is plugged in again: taken by itself.
    capture->devices = {microphone, monitor};
    capture->devicesChanged();
    EXPECT_EQ(controller->selectedAudioDevice(), monitor);

    // "No input" stays so through a restart of the server.
    controller->setSelectedAudioDevice(std::nullopt);
    capture->devicesChanged();
    capture->serverReconnected();
    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
    EXPECT_EQ(controller->status().deviceError, "");
}

TEST_F(DeviceSelectionTest, TheStoredChoiceIsTakenUpAtStartUp) {
    devicesAtStart = {microphone, monitor};
    struct Case {
        std::optional<std::string> stored;
        std::optional<AudioDevice> selected;
        std::string status;
    };
    const Case cases[] = {
        {std::nullopt, microphone, ""},  // the server's default
        {"", std::nullopt, ""},          // "No input"
        {"@DEFAULT_SOURCE@", microphone, ""},
        {"speakers.monitor", monitor, ""},
        {"usb.gone", std::nullopt, "waiting for usb.gone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or("(absent)"));
        preferences.setString("inputDevice", c.stored);
        const auto controller = startController();
        EXPECT_EQ(controller->selectedAudioDevice(), c.selected);
        EXPECT_EQ(controller->status().deviceError, c.status);
        EXPECT_EQ(preferences.stringForKey("inputDevice"), c.stored) << "start-up stores nothing";
    }
}

TEST_F(DeviceSelectionTest, AChoiceMadeIsStoredAtOnceAndNoInputDistinctlyFromTheDefault) {
    const auto controller = start();
    controller->setSelectedAudioDevice(monitor);
    EXPECT_EQ(preferences.stringForKey("inputDevice"), "speakers.monitor");
    controller->setSelectedAudioDevice(std::nullopt);
    EXPECT_EQ(preferences.stringForKey("inputDevice"), "");
}

TEST_F(DeviceSelectionTest, WithoutAStoredChoiceTheServersDefaultIsFollowed) {
    const auto controller = start();
    capture->defaultDevice = monitor;
    capture->devicesChanged();
    EXPECT_EQ(controller->selectedAudioDevice(), monitor);

    // The default source is unloaded; the server names another one.
    capture->devices = {microphone};
    capture->defaultDevice = microphone;
    capture->devicesChanged();
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);
    EXPECT_EQ(controller->status().deviceError, "");
}

TEST_F(DeviceSelectionTest, AnInputWhoseCaptureFailsReadsAsNoSelectionWithTheReason) {
    const auto controller = start();
    capture->failInput("Stream failed");

    EXPECT_EQ(controller->selectedAudioDevice(), std::nullopt);
    EXPECT_EQ(controller->status().deviceError,
              "cannot capture from USB microphone: Stream failed");

    // The next change of the device list tries again.
    capture->devicesChanged();
    EXPECT_EQ(controller->selectedAudioDevice(), microphone);
    EXPECT_EQ(controller->status().deviceError, "");
}

}  // namespace
