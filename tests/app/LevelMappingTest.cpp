// The tick and the value mapping, checked on the datagrams a real sender puts on the wire.
#include <filesystem>
#include <fstream>

#include "app/control/StatusText.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

using LevelMappingTest = ControllerTest;

TEST_F(LevelMappingTest, FullScaleInContinuousModeSendsTheMaximumAsOneDatagram) {
    const auto controller = startController();
    controller->setAddress("level");
    capture->readings = {{0.0f}};

    controller->updateAudioLevels();

    const QVOSCData expected = {'/', 'z', 'a', 'n', 'd', 'o', 'r', 'e', 'x',  '/',  'l', 'e',
                                'v', 'e', 'l', 0,   ',', 'f', 0,   0,   0x41, 0x20, 0,   0};
    EXPECT_EQ(nextDatagram(), expected);
    EXPECT_EQ(meter.value, 20.0f);
    EXPECT_EQ(controller->currentPosition(), 1.0f);
    EXPECT_EQ(controller->status().lastValueSent, 10.0f);
}

TEST_F(LevelMappingTest, AveragesEveryChannelOfEveryConnection) {
    const auto controller = startController();
    // Mean of -10 and -30 dB is -20 dB: linear 0.1, meter 2, position 0.2.
    capture->readings = {{-10.0f}, {-30.0f}};

    controller->updateAudioLevels();

    EXPECT_EQ(meter.value, 2.0f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 2.0f));
    EXPECT_EQ(controller->currentPosition(), 0.2f);
}

TEST_F(LevelMappingTest, EachMappingSendsFromItsOwnMeterToItsOwnAddressOnEveryTick) {
    preferences.setString("address", std::string("kick"));
    preferences.setString("mappings", std::string("hat,voice"));
    preferences.setString("hat/type", std::string("trigger"));
    preferences.setString("hat/address", std::string("hat"));
    preferences.setString("hat/bandLowCut", std::string("5000"));
    preferences.setString("voice/address", std::string("voice"));
    preferences.setString("voice/inputChannels", std::string("2"));
    const auto controller = startController();
    ASSERT_EQ(capture->meters.size(), 3u);
    EXPECT_EQ(capture->meters[1].lowCut, 5000.0f);
    EXPECT_EQ(capture->meters[2].channels, std::vector<unsigned>{2});

    // -20 dB reads position 0.2 (2 of 10); the hat's full scale turns it on.
    capture->readings = {{-20.0f}};
    capture->furtherLevels = {{0.0f}, {-10.0f, -30.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 10.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/voice", 2.0f));
    EXPECT_EQ(controller->status().lastValueSent, 2.0f);
    // Every view reads every mapping the same way, the first one included.
    const MappingStatus* first = mappingStatus(controller->status(), "");
    const MappingStatus* hat = mappingStatus(controller->status(), "hat");
    ASSERT_TRUE(first && hat);
    EXPECT_EQ(std::tie(first->address, first->position, first->lastValueSent),
              std::make_tuple("kick", 0.2f, 2.0f));
    EXPECT_EQ(std::tie(hat->address, hat->on, hat->lastValueSent),
              std::make_tuple("hat", true, 10.0f));
    EXPECT_NE(statusLine(controller->status()).find("sent 2.000 | hat on | voice 2.00"),
              std::string::npos)
        << statusLine(controller->status());

    // Renamed while on, it stays on: no second cue.
    ASSERT_EQ(controller->settings().renameMapping("hat", "cymbal"), std::nullopt);
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/voice", 2.0f));
    EXPECT_TRUE(nothingSent());
    EXPECT_NE(statusLine(controller->status()).find("| cymbal on |"), std::string::npos);

    // The hat turns off once; a mapping without a level (its channel gone) sends nothing.
    capture->furtherLevels = {{-160.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 0.0f));
    EXPECT_TRUE(nothingSent());
    ASSERT_NE(mappingStatus(controller->status(), "voice"), nullptr);
    EXPECT_FALSE(mappingStatus(controller->status(), "voice")->meter);

    // A mapping taken off the list is metered and sent no more.
    controller->settings().changeFromText("mappings", "voice");
    EXPECT_EQ(capture->meters.size(), 2u);
    capture->furtherLevels = {{-20.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/voice", 2.0f));
    EXPECT_TRUE(nothingSent());
}

TEST_F(LevelMappingTest, APresetSwitchIsOneStepAfterWhichOnlyWhatChangedSends) {
    preferences.setString("address", std::string("kick"));
    preferences.setString("mappings", std::string("hat,voice"));
    preferences.setString("hat/type", std::string("trigger"));
    preferences.setString("hat/address", std::string("hat"));
    preferences.setString("voice/address", std::string("voice"));
    const auto controller = startController();
    controller->usePresetsBeside(preferences.fileName());
    const std::filesystem::path presets =
        std::filesystem::path(preferences.fileName().toStdString()).parent_path() /
        "Kestrano.presets";
    std::filesystem::create_directories(presets);
    // hat the same, voice gone, thunder new, the first mapping's maximum halved.
    std::ofstream(presets / "storm.conf")
        << "[General]\naddress=kick\nmaxValue=5\nmappings=hat,thunder\n[hat]\ntype=trigger\n"
           "address=hat\n[thunder]\ntype=trigger\naddress=thunder\n";
    std::ofstream(presets / "broken.conf") << "[General]\nmaxValue=loud\nmappings=voice\n";
    std::ofstream(presets / "calm.conf")
        << "[General]\naddress=kick\nmaxValue=5\nmappings=thunder\n[thunder]\ntype=trigger\n"
           "address=thunder\n";

    capture->readings = {{-20.0f}};
    capture->furtherLevels = {{0.0f}, {-20.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 10.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/voice", 2.0f));

    // The capture's meters and gates change once, and the next tick is the new set-up's: the
    // kept trigger sends nothing, the arriving one turns on once, the leaving one is quiet.
    const int layouts = capture->meterLayouts;
    ASSERT_EQ(controller->switchPreset("STORM"), std::nullopt);
    EXPECT_EQ(capture->meterLayouts, layouts + 1);
    ASSERT_EQ(capture->meters.size(), 3u);
    capture->furtherLevels = {{0.0f}, {0.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 1.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/thunder", 10.0f));
    EXPECT_TRUE(nothingSent());
    // Refused whole: not even the capture's meters change.
    EXPECT_NE(controller->switchPreset("broken"), std::nullopt);
    EXPECT_EQ(capture->meterLayouts, layouts + 1);

    // A trigger that is on sends its off where its on went: when its address changes (then it
    // turns on at the new one), and when its mapping leaves in a switch.
    ASSERT_EQ(controller->settings().changeFromText("hat/address", "cymbal"), std::nullopt);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 0.0f));
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/kick", 1.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/cymbal", 10.0f));
    EXPECT_TRUE(nothingSent());
    ASSERT_EQ(controller->switchPreset("calm"), std::nullopt);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/cymbal", 0.0f));
    EXPECT_TRUE(nothingSent());
}

TEST_F(LevelMappingTest, AMappingWithoutAnAddressSendsToItsNameAndSharedAddressesAreSaid) {
    preferences.setString("mappings", std::string("hat,snare"));
    const auto controller = startController();
    capture->readings = {{-20.0f}};
    capture->furtherLevels = {{-20.0f}, {-20.0f}};
    controller->updateAudioLevels();
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 2.0f)) << "the first keeps the bare one";
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 2.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/snare", 2.0f));
    EXPECT_TRUE(controller->status().sharedAddresses.empty());

    // Two on one address are allowed, and said in the status line.
    ASSERT_EQ(controller->settings().changeFromText("snare/address", "hat"), std::nullopt);
    controller->setAddress("hat");
    controller->updateAudioLevels();
    for (int mapping = 0; mapping < 3; ++mapping) {
        EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 2.0f)) << mapping;
    }
    EXPECT_NE(statusLine(controller->status())
                  .find("the first mapping and hat and snare send to /zandorex/hat"),
              std::string::npos)
        << statusLine(controller->status());
}

TEST_F(LevelMappingTest, ContinuousValuesFollowThePositionLinearlyEitherWay) {
    const auto controller = startController();
    controller->setMinValue(2.0f);
    controller->setMaxValue(6.0f);
    controller->sendOSCMessageForPosition(0.25f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 3.0f));

    // A minimum above the maximum makes the value fall as the level rises.
    controller->setMinValue(10.0f);
    controller->setMaxValue(0.0f);
    controller->sendOSCMessageForPosition(0.25f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 7.5f));

    // Every tick sends, also when the value does not change.
    controller->sendOSCMessageForPosition(0.25f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 7.5f));
}

TEST_F(LevelMappingTest, LoudInputShowsTheUnclampedMeterAndStopsThePositionAtOne) {
    const auto controller = startController();
    controller->setVolumeAmplification(3.0f);
    capture->readings = {{0.0f, 0.0f}};

    controller->updateAudioLevels();

    EXPECT_EQ(meter.value, 60.0f);
    EXPECT_EQ(controller->currentPosition(), 1.0f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 10.0f));
}

TEST_F(LevelMappingTest, NegativeAmplificationStopsAtTheMinimum) {
    const auto controller = startController();
    controller->setVolumeAmplification(-1.0f);
    controller->setMinValue(2.0f);
    capture->readings = {{0.0f}};

    controller->updateAudioLevels();

    // The meter shows what the amplification makes; the value never leaves minimum to maximum.
    EXPECT_EQ(meter.value, -20.0f);
    EXPECT_EQ(controller->currentPosition(), 0.0f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 2.0f));
}

TEST_F(LevelMappingTest, TriggerModeSendsOnlyOnThresholdCrossings) {
    const auto controller = startController();
    controller->setType(1);
    controller->setMinValue(1.0f);
    controller->setMaxValue(9.0f);

    for (const float position : {0.4f, 0.6f, 0.7f, 0.3f, 0.3f}) {
        controller->sendOSCMessageForPosition(position);
    }

    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 9.0f));
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 1.0f));
    EXPECT_TRUE(nothingSent());
    EXPECT_EQ(controller->currentPosition(), 0.3f);
}

TEST_F(LevelMappingTest, TriggerModeCountsExactlyHalfAsAboveTheThreshold) {
    const auto controller = startController();
    controller->setType(7);  // any mode but 0 is the trigger mode

    controller->sendOSCMessageForPosition(0.49f);
    EXPECT_TRUE(nothingSent());
    controller->sendOSCMessageForPosition(0.5f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 10.0f));
}

TEST_F(LevelMappingTest, InactiveSendsNothingButFollowsThePosition) {
    const auto controller = startController();
    controller->setType(1);
    controller->setActive(false);

    controller->sendOSCMessageForPosition(0.8f);
    EXPECT_EQ(controller->currentPosition(), 0.8f);
    EXPECT_TRUE(nothingSent());

    // Back on while still above the threshold: no crossing, so nothing is sent.
    controller->setActive(true);
    controller->sendOSCMessageForPosition(0.9f);
    EXPECT_TRUE(nothingSent());
    controller->sendOSCMessageForPosition(0.1f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 0.0f));
}

TEST_F(LevelMappingTest, TickWithoutChannelsShowsZeroAndSendsNothing) {
    const auto controller = startController();
    controller->sendOSCMessageForPosition(0.7f);
    ASSERT_FALSE(nextDatagram().empty());

    controller->setSelectedAudioDevice(std::nullopt);
    controller->updateAudioLevels();

    EXPECT_EQ(meter.value, 0.0f);
    EXPECT_EQ(controller->currentPosition(), 0.7f);
    EXPECT_FALSE(controller->status().meter);
    EXPECT_TRUE(nothingSent());
}

TEST_F(LevelMappingTest, AddressTextIsInsertedUnchangedAndNoneCountsAsEmpty) {
    const auto controller = startController();
    controller->setAddress("layer/1");
    controller->sendOSCMessageForPosition(0.0f);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/layer/1", 0.0f));

    controller->setAddress(std::nullopt);
    controller->sendOSCMessageForPosition(0.0f);
    const QVOSCData datagram = nextDatagram();
    EXPECT_EQ(datagram.size(), 20u);
    EXPECT_EQ(datagram, levelDatagram("/zandorex/", 0.0f));
}

TEST_F(LevelMappingTest, TheTimerTicksRepeatedly) {
    const auto controller = startController();
    capture->readings = {{-6.0f}};

    int received = 0;
    processEventsUntil(
        [&] {
            if (receiver.receive(std::chrono::milliseconds(0))) {
                ++received;
            }
            return received >= 3;
        },
        std::chrono::seconds(2));

    EXPECT_GE(received, 3);
    EXPECT_GE(meter.updates, 3);
}

}  // namespace
