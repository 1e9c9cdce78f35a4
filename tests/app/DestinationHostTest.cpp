// The destination host: names, IPv4 and IPv6 addresses, and a name that does not resolve.
#include "app/settings/SettingsKeys.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

using namespace std::chrono_literals;

using DestinationHostTest = ControllerTest;

// Ticks until `destination` receives a level datagram, or two seconds pass.
std::optional<QVOSCData> levelArrivingAt(KestranoController& controller, UdpReceiver& destination) {
    std::optional<QVOSCData> arrived;
    processEventsUntil(
        [&] {
            controller.updateAudioLevels();
            arrived = destination.receive(10ms);
            return arrived.has_value();
        },
        2s);
    return arrived;
}

TEST_F(DestinationHostTest, StoredHostsOfEveryKindReceiveTheLevel) {
    struct Case {
        std::string host;
        std::string receiverAddress;
    };
    for (const Case& destination :
         {Case{"127.0.0.2", "127.0.0.2"}, Case{"::1", "::1"}, Case{"localhost", "127.0.0.1"}}) {
        SCOPED_TRACE(destination.host);
        UdpReceiver zandorex(destination.receiverAddress);
        preferences.setString(settings_keys::zandorexHost, destination.host);
        preferences.setInteger(settings_keys::zandorexSendPort, zandorex.port());
        const auto controller = startControllerOnStoredSettings();
        capture->readings = {{0.0f}};

        EXPECT_EQ(levelArrivingAt(*controller, zandorex), levelDatagram("/zandorex/", 10.0f));
        EXPECT_EQ(controller->status().senderError, "");
        EXPECT_TRUE(nothingSent()) << "the default destination stays quiet";
    }
}

TEST_F(DestinationHostTest, AnUnknownNameSendsNothingAndSaysWhyUntilTheHostIsChanged) {
    UdpReceiver zandorex("127.0.0.2");
    const auto controller = startController();
    capture->readings = {{0.0f}};
    controller->settings().changeFromText(settings_keys::zandorexHost, "no-such-host.invalid");

    processEventsUntil([&] { return controller->status().senderError.starts_with("cannot"); }, 5s);
    EXPECT_TRUE(
        controller->status().senderError.starts_with("cannot resolve no-such-host.invalid: "))
        << controller->status().senderError;
    controller->updateAudioLevels();
    EXPECT_TRUE(nothingSent());
    EXPECT_EQ(preferences.stringForKey(settings_keys::zandorexHost), "no-such-host.invalid");

    // A new host takes effect at once, and the send port carries over.
    controller->setZandorexSendPort(zandorex.port());
    controller->settings().changeFromText(settings_keys::zandorexHost, "127.0.0.2");
    EXPECT_EQ(controller->status().senderError, "");
    EXPECT_EQ(levelArrivingAt(*controller, zandorex), levelDatagram("/zandorex/", 10.0f));

    // No host at all is the local host again, and the key is gone.
    controller->setZandorexSendPort(receiver.port());
    controller->settings().changeFromText(settings_keys::zandorexHost, "");
    EXPECT_EQ(controller->settings().held(settings_keys::zandorexHost), std::nullopt);
    EXPECT_EQ(preferences.stringForKey(settings_keys::zandorexHost), std::nullopt);
    EXPECT_EQ(levelArrivingAt(*controller, receiver), levelDatagram("/zandorex/", 10.0f));
}

}  // namespace
