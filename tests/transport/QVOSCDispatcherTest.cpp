#include "transport/udp/QVOSCDispatcher.h"

#include <gtest/gtest.h>

#include "tests/support/Udp.h"
#include "transport/EventLoop.h"
#include "transport/udp/QVOSCListener.h"

using namespace std::chrono_literals;

TEST(QVOSCDispatcherTest, TheDefaultListenerLogsEachDatagramAsItsPacketOrNull) {
    EventLoop loop;
    const auto listener = QVOSCListener::defaultListenerOnPort(0, loop);
    ASSERT_NE(listener, nullptr);
    ASSERT_NE(std::dynamic_pointer_cast<QVOSCDispatcher>(listener->delegate()), nullptr);
    const uint16_t port = boundPort(listener->socketDescriptor());

    const QVOSCData level = {0x2F, 0x7A, 0x61, 0x6E, 0x64, 0x6F, 0x72, 0x65,
                             0x78, 0x2F, 0x6C, 0x65, 0x76, 0x65, 0x6C, 0x00,
                             0x2C, 0x66, 0x00, 0x00, 0x41, 0x20, 0x00, 0x00};
    const std::string expected =
        "DISPATCH: MESSAGE:\naddress:/zandorex/level\n types:,f\nf { 10.000000 }\n"
        "DISPATCH: (null)\n"
        "DISPATCH: (null)\n";

    testing::internal::CaptureStderr();
    ASSERT_TRUE(sendDatagram(port, level));
    ASSERT_TRUE(sendDatagram(port, {}));
    ASSERT_TRUE(sendDatagram(port, QVOSCData{'/', 'x', 0}));  // cut short
    std::string logged;
    loop.runUntil([&] { return false; }, 300ms);
    logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(logged, expected);
    listener->stopListening();
}
