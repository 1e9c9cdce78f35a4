// Datagrams from Zandorex through the real listener down to the per-message hook.
#include <cerrno>

#include "app/settings/SettingsKeys.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCBundle.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"
#include "tests/app/support/PortProbe.h"
#include "transport/NetworkEndpointText.h"

namespace {

// Notes the address of every message the walk hands to the hook.
class RecordingController : public KestranoController {
  public:
    using KestranoController::KestranoController;
    void decodeMessage(const QVOSCMessage& message) override {
        addresses.push_back(message.address()->address());
    }
    std::vector<std::string> addresses;
};

std::shared_ptr<QVOSCMessage> message(const std::string& address) {
    auto result = std::make_shared<QVOSCMessage>(QVOSCAddress::addressWithString(address));
    result->attachArgument(QVOSCArgument::argumentWithInt(1));
    return result;
}

class IncomingRouteTest : public ControllerTest {
  protected:
    void send(const QVOSCPacket& packet, uint16_t port) {
        ASSERT_TRUE(sendDatagram(port, packet.packetizedData()));
    }
    bool waitForMessages(const RecordingController& controller, size_t count) {
        return processEventsUntil([&] { return controller.addresses.size() >= count; },
                                  std::chrono::seconds(2));
    }
};

TEST_F(IncomingRouteTest, NestedBundlesAreWalkedDepthFirstInDatagramOrder) {
    const auto controller = startController<RecordingController>();
    const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
    QVOSCBundle inner;
    inner.attachObject(message("/b/inner"));
    QVOSCBundle outer;
    outer.attachObject(message("/a/first"));
    outer.attachObject(std::make_shared<QVOSCBundle>(inner));
    outer.attachObject(message("/c/last"));

    send(outer, port);

    ASSERT_TRUE(waitForMessages(*controller, 3));
    EXPECT_EQ(controller->addresses, (std::vector<std::string>{"/a/first", "/b/inner", "/c/last"}));
}

TEST_F(IncomingRouteTest, EmptyBundlesAndUndecodableBytesReachNoMessage) {
    const auto controller = startController<RecordingController>();
    const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
    send(QVOSCBundle(), port);
    QVOSCBundle holdingAnEmptyBundle;
    holdingAnEmptyBundle.attachObject(std::make_shared<QVOSCBundle>());
    send(holdingAnEmptyBundle, port);
    ASSERT_TRUE(sendDatagram(port, QVOSCData{'#', 'b', 'u', 'n'}));
    send(*message("/after"), port);

    ASSERT_TRUE(waitForMessages(*controller, 1));
    processEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(controller->addresses, std::vector<std::string>{"/after"});
}

TEST_F(IncomingRouteTest, ChangingTheListenPortMovesTheListener) {
    const auto controller = startController<RecordingController>();
    const auto oldPort = static_cast<uint16_t>(controller->zandorexListenPort());
    const uint16_t newPort = freeUdpPort();

    controller->setZandorexListenPort(newPort);

    EXPECT_EQ(bindErrorOnPort(oldPort), 0);
    EXPECT_EQ(bindErrorOnPort(newPort), EADDRINUSE);
    send(*message("/moved"), newPort);
    ASSERT_TRUE(waitForMessages(*controller, 1));
    EXPECT_EQ(controller->addresses, std::vector<std::string>{"/moved"});
}

TEST_F(IncomingRouteTest, PortTakenByAnotherProgramLeavesTheControllerRunning) {
    const auto controller = startController<RecordingController>();
    {
        const PortHolder otherProgram;
        controller->setZandorexListenPort(otherProgram.port());

        EXPECT_EQ(controller->zandorexListener(), nullptr);
        EXPECT_EQ(controller->status().listenerError, "cannot listen on port " +
                                                          std::to_string(otherProgram.port()) +
                                                          ": Address already in use");
        // The level still goes out.
        controller->sendOSCMessageForPosition(0.5f);
        EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 5.0f));

        controller->setZandorexListenPort(otherProgram.port());
        EXPECT_EQ(controller->zandorexListener(), nullptr);
    }
    const uint16_t freedPort = freeUdpPort();
    controller->setZandorexListenPort(freedPort);
    EXPECT_NE(controller->zandorexListener(), nullptr);
    EXPECT_TRUE(controller->status().listenerError.empty());
    send(*message("/back"), freedPort);
    EXPECT_TRUE(waitForMessages(*controller, 1));
}

TEST_F(IncomingRouteTest, WrapperCallsItsTargetUntilTheTargetIsCleared) {
    const auto controller = startController<RecordingController>();
    DelegateWrapper& wrapper = *controller->fromZandorex();
    EXPECT_EQ(wrapper.target(), controller.get());
    const auto datagram = std::make_shared<const QVOSCData>(message("/direct")->packetizedData());

    wrapper.dispatchRawPacket(datagram);
    wrapper.setTarget(nullptr);
    wrapper.dispatchRawPacket(datagram);

    EXPECT_EQ(controller->addresses, std::vector<std::string>{"/direct"});
}

}  // namespace

namespace {

// Sends `packet` to a numeric address of this machine.
bool sendTo(const std::string& host, uint16_t port, const QVOSCPacket& packet, MainLoop& loop) {
    const auto sender =
        QVOSCSender::senderWithDestinationEndpoint(*numericEndpoint(host, port), loop);
    return sender && sender->sendOSCPacket(packet);
}

TEST_F(IncomingRouteTest, AListenAddressReceivesOnThatAddressOnly) {
    preferences.setString(settings_keys::listenAddress, "127.0.0.2");
    const auto controller = startController<RecordingController>();
    const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
    EXPECT_EQ(controller->status().listenerError, "");

    ASSERT_TRUE(sendTo("127.0.0.1", port, *message("/elsewhere"), mainLoop));
    ASSERT_TRUE(sendTo("127.0.0.2", port, *message("/here"), mainLoop));
    ASSERT_TRUE(waitForMessages(*controller, 1));
    processEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(controller->addresses, std::vector<std::string>{"/here"});

    // IPv6 takes effect at once, and is kept at once.
    controller->settings().changeFromText(settings_keys::listenAddress, "::1");
    EXPECT_EQ(preferences.stringForKey(settings_keys::listenAddress), "::1");
    ASSERT_TRUE(sendTo("::1", port, *message("/six"), mainLoop));
    ASSERT_TRUE(waitForMessages(*controller, 2));
    EXPECT_EQ(controller->addresses.back(), "/six");

    // An address this machine does not have: no listener, and the status says why.
    controller->settings().changeFromText(settings_keys::listenAddress, "192.0.2.1");
    EXPECT_EQ(controller->zandorexListener(), nullptr);
    EXPECT_EQ(controller->status().listenerError,
              "cannot listen on 192.0.2.1: Cannot assign requested address (port " +
                  std::to_string(port) + ")");

    controller->settings().changeFromText(settings_keys::listenAddress, "");
    EXPECT_EQ(preferences.stringForKey(settings_keys::listenAddress), std::nullopt);
    ASSERT_TRUE(sendTo("127.0.0.1", port, *message("/anywhere"), mainLoop));
    ASSERT_TRUE(waitForMessages(*controller, 3));
}

}  // namespace

namespace {

TEST_F(IncomingRouteTest, KestranoMessagesOnlyReachTheHookUntilRemoteControlIsOn) {
    const auto controller = startController<RecordingController>();
    const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
    UdpReceiver peer;
    QVOSCMessage request(QVOSCAddress::addressWithString("/kestrano/set/minValue"));
    request.attachArgument(QVOSCArgument::argumentWithFloat(3.0f));

    ASSERT_TRUE(peer.sendTo(port, request.packetizedData()));
    ASSERT_TRUE(waitForMessages(*controller, 1));
    EXPECT_EQ(controller->addresses, std::vector<std::string>{"/kestrano/set/minValue"});
    EXPECT_EQ(controller->minValue(), 0.0f);
    EXPECT_FALSE(peer.receive(std::chrono::milliseconds(100)).has_value());

    controller->settings().change(settings_keys::remoteControl, true);
    EXPECT_EQ(preferences.boolObjectForKey(settings_keys::remoteControl), true);
    ASSERT_TRUE(peer.sendTo(port, request.packetizedData()));
    processEventsUntil([&] { return controller->minValue() == 3.0f; }, std::chrono::seconds(2));
    EXPECT_EQ(controller->minValue(), 3.0f);
    EXPECT_EQ(controller->addresses.size(), 1u) << "a command is not handed to the hook";
}

}  // namespace
