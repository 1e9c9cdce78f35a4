// Sends that find no room: counted as busy at once, never waited on.
#include "transport/udp/DatagramSend.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

// A local datagram socket whose queue the test fills: unlike loopback UDP, which drops what the
// receiver has no room for, it makes a sender wait, or say EAGAIN when told not to.
TEST(DatagramSendTest, AFullQueueGivesBusyAtOnceAndRoomGivesSent) {
    const int receiver = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);
    NetworkEndpoint destination;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name: nothing on disk to clean up.
    const std::string name = "kestrano-send-test-" + std::to_string(getpid());
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    ASSERT_EQ(bind(receiver, reinterpret_cast<const sockaddr*>(&address), length), 0);
    std::memcpy(&destination.address, &address, sizeof address);
    destination.length = length;

    const QVOSCData datagram(1000, 7);
    int sent = 0;
    DatagramSendResult result;
    while ((result = sendDatagramWithoutWaiting(sender, datagram, destination)) ==
               DatagramSendResult::sent &&
           sent < 100000) {
        ++sent;
    }
    EXPECT_EQ(result, DatagramSendResult::busy);
    EXPECT_GT(sent, 0);

    uint8_t buffer[2000];
    ASSERT_EQ(recv(receiver, buffer, sizeof buffer, 0), 1000);
    EXPECT_EQ(sendDatagramWithoutWaiting(sender, datagram, destination), DatagramSendResult::sent);

    close(receiver);
    EXPECT_EQ(sendDatagramWithoutWaiting(sender, datagram, destination),
              DatagramSendResult::failed);
    close(sender);
}

}  // namespace
