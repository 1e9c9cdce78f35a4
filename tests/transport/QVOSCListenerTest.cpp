#include "transport/udp/QVOSCListener.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include <arpa/inet.h>

#include "osc/QVOSCMessage.h"
#include "tests/support/Threads.h"
#include "tests/support/Udp.h"
#include "tests/transport/RecordingDelegate.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"
#include "transport/udp/QVOSCSourcedDatagramDelegate.h"

using namespace std::chrono_literals;

namespace {

constexpr auto patience = 5s;

size_t openDescriptorCount() {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

// Keeps each datagram with the address and port it came from.
class SourceRecorder : public QVOSCDatagramDelegate, public QVOSCSourcedDatagramDelegate {
  public:
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override {
        withoutSource.push_back(std::move(data));
    }
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data,
                           const NetworkEndpoint& source) override {
        EXPECT_EQ(source.address.ss_family, AF_INET);
        EXPECT_EQ(source.length, sizeof(sockaddr_in));
        const auto& address = reinterpret_cast<const sockaddr_in&>(source.address);
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        received.push_back({*data, text + (":" + std::to_string(ntohs(address.sin_port)))});
    }

    std::vector<std::pair<QVOSCData, std::string>> received;
    std::vector<std::shared_ptr<const QVOSCData>> withoutSource;
};

class QVOSCListenerTest : public ::testing::Test {
  protected:
    // A listener on a port the system picks, with `delegate` as its delegate.
    std::shared_ptr<QVOSCListener> listenerWith(std::shared_ptr<QVOSCDatagramDelegate> delegate,
                                                int32_t port = 0) {
        auto listener = std::make_shared<QVOSCListener>(loop);
        listener->setDelegate(std::move(delegate));
        if (!listener->startListeningOnPort(port)) {
            return nullptr;
        }
        return listener;
    }

    static uint16_t portOf(const QVOSCListener& listener) {
        return boundPort(listener.socketDescriptor());
    }

    bool runUntilReceived(const RecordingDelegate& delegate, size_t count) {
        return loop.runUntil([&] { return delegate.datagrams.size() >= count; }, patience);
    }

    EventLoop loop;
    std::shared_ptr<RecordingDelegate> recorder = std::make_shared<RecordingDelegate>();
};

TEST_F(QVOSCListenerTest, DeliversEachDatagramOnTheMainThreadInOrderCutTo65506Bytes) {
    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    EXPECT_GT(listener->socketDescriptor(), 0);

    QVOSCData longest(65507);
    for (size_t i = 0; i < longest.size(); ++i) {
        longest[i] = static_cast<uint8_t>(i * 7);
    }
    const QVOSCData small = {1, 2, 3};
    ASSERT_TRUE(sendDatagram(portOf(*listener), small));
    ASSERT_TRUE(sendDatagram(portOf(*listener), {}));
    ASSERT_TRUE(sendDatagram(portOf(*listener), longest));
    for (uint8_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(sendDatagram(portOf(*listener), QVOSCData{i}));
    }

    ASSERT_TRUE(runUntilReceived(*recorder, 103));
    EXPECT_TRUE(recorder->allOnMainThread);
    EXPECT_EQ(*recorder->datagrams[0], small);
    EXPECT_TRUE(recorder->datagrams[1]->empty());
    EXPECT_EQ(*recorder->datagrams[2], QVOSCData(longest.begin(), longest.end() - 1));
    EXPECT_EQ(recorder->datagrams[2]->capacity(), 65506u);  // a copy of the received length
    for (uint8_t i = 0; i < 100; ++i) {
        EXPECT_EQ(*recorder->datagrams[3 + i], QVOSCData{i});
    }
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, ASourcedDelegateLearnsTheAddressAndPortOfEachDatagram) {
    const auto sources = std::make_shared<SourceRecorder>();
    const auto listener = listenerWith(sources);
    ASSERT_NE(listener, nullptr);
    const UdpReceiver first;
    const UdpReceiver second;  // two sockets bound to 127.0.0.1, used here to send from
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(portOf(*listener));
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const auto& [from, bytes] :
         {std::pair{&first, QVOSCData{1}}, {&second, QVOSCData{2, 3}}, {&first, QVOSCData{}}}) {
        ASSERT_EQ(sendto(from->descriptor(), bytes.data(), bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&destination), sizeof destination),
                  static_cast<ssize_t>(bytes.size()));
    }

    ASSERT_TRUE(loop.runUntil([&] { return sources->received.size() >= 3; }, patience));
    const std::string firstSource = "127.0.0.1:" + std::to_string(first.port());
    const std::string secondSource = "127.0.0.1:" + std::to_string(second.port());
    EXPECT_EQ(sources->received,
              (std::vector<std::pair<QVOSCData, std::string>>{{QVOSCData{1}, firstSource},
                                                              {QVOSCData{2, 3}, secondSource},
                                                              {QVOSCData{}, firstSource}}));
    EXPECT_TRUE(sources->withoutSource.empty());
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, WhatWaitsForABusyMainThreadIsBoundedTheRestDroppedAndCounted) {
    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    const uint16_t port = portOf(*listener);
    // The main loop does not run: everything received waits, up to the bound. Sent in steps the
    // listener can keep up with, however slow it is, until it drops.
    const QVOSCData datagram(1000, 0x5A);
    size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (listener->droppedDatagramCount() == 0 && std::chrono::steady_clock::now() < deadline) {
        sendDatagram(port, datagram);
        if (++sent % 16 == 0) {
            std::this_thread::sleep_for(200us);
        }
    }
    ASSERT_GT(listener->droppedDatagramCount(), 0u);
    // Whatever the socket still holds is read and dropped before the main loop runs.
    for (uint64_t before = 0; before != listener->droppedDatagramCount();) {
        before = listener->droppedDatagramCount();
        std::this_thread::sleep_for(100ms);
    }
    loop.runUntil([] { return false; }, 200ms);

    const size_t waited = recorder->datagrams.size();
    EXPECT_GT(waited, 0u);
    EXPECT_LE(waited * (datagram.size() + DatagramHandOff::bookkeepingBytes),
              DatagramHandOff::maximumWaitingBytes);
    EXPECT_LE(waited, DatagramHandOff::maximumWaitingDatagrams);
    EXPECT_LE(waited + listener->droppedDatagramCount(), sent);

    // The room is given back once handed on.
    ASSERT_TRUE(sendDatagram(port, QVOSCData{77}));
    EXPECT_TRUE(loop.runUntil(
        [&] {
            return !recorder->datagrams.empty() && *recorder->datagrams.back() == QVOSCData{77};
        },
        patience));
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, BindsTheLowSixteenBitsOfThePort) {
    // 70000 means 4464; when that port is busy here, a free port P is asked for as P + 65536.
    const int probe = wildcardSocketOn(4464);
    const int32_t lowBits = probe != -1 ? 4464 : freeUdpPort();
    if (probe != -1) {
        close(probe);
    }
    const auto listener = listenerWith(recorder, lowBits == 4464 ? 70000 : lowBits + 65536);
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(portOf(*listener), lowBits);

    ASSERT_TRUE(sendDatagram(static_cast<uint16_t>(lowBits), QVOSCData{42}));
    ASSERT_TRUE(runUntilReceived(*recorder, 1));
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, ABusyPortReportsBindAndGivesNoListener) {
    const int holder = wildcardSocketOn(0);
    ASSERT_NE(holder, -1);
    const size_t descriptorsBefore = openDescriptorCount();

    testing::internal::CaptureStderr();
    const auto listener = QVOSCListener::defaultListenerOnPort(boundPort(holder), loop);
    const std::string errorText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(listener, nullptr);
    EXPECT_EQ(errorText.rfind("bind: ", 0), 0u) << errorText;
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);  // the failed listener's socket is closed
    close(holder);
}

TEST_F(QVOSCListenerTest, StoppingABlockedListenerEndsItsThreadAndFreesThePort) {
    const uint16_t port = freeUdpPort();
    const auto listener = listenerWith(recorder, port);
    ASSERT_NE(listener, nullptr);
    ASSERT_TRUE(eventually([] { return threadsNamed("OSCListener").size() == 1; }));

    // Posted before the stop, run after it.
    ASSERT_TRUE(sendDatagram(port, QVOSCData{7}));
    std::this_thread::sleep_for(50ms);
    listener->stopListening();
    EXPECT_EQ(listener->socketDescriptor(), -1);

    const int rebound = wildcardSocketOn(port);
    EXPECT_NE(rebound, -1) << "the port is still held after stopListening";
    EXPECT_TRUE(eventually([] { return threadsNamed("OSCListener").empty(); }));

    loop.runUntil([] { return false; }, 50ms);
    ASSERT_EQ(recorder->datagrams.size(), 1u);
    EXPECT_EQ(*recorder->datagrams[0], QVOSCData{7});
    close(rebound);
}

TEST_F(QVOSCListenerTest, NeverReadsANewerSocketThatReusesTheClosedNumber) {
    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    const int oldDescriptor = listener->socketDescriptor();
    listener->stopListening();

    UdpReceiver newer;  // most likely given the number just closed
    ASSERT_TRUE(sendDatagram(newer.port(), QVOSCData{1, 2}));
    EXPECT_EQ(newer.receive(2s), (QVOSCData{1, 2}))
        << "descriptor reused: " << (newer.descriptor() == oldDescriptor);
    loop.runUntil([] { return false; }, 50ms);
    EXPECT_TRUE(recorder->datagrams.empty());
}

TEST_F(QVOSCListenerTest, DatagramsGoToTheDelegateSetWhenTheyArrive) {
    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    const uint16_t port = portOf(*listener);

    ASSERT_TRUE(sendDatagram(port, QVOSCData{1}));
    ASSERT_TRUE(runUntilReceived(*recorder, 1));

    listener->setDelegate(nullptr);  // no delegate: dropped
    ASSERT_TRUE(sendDatagram(port, QVOSCData{2}));
    std::this_thread::sleep_for(50ms);

    auto second = std::make_shared<RecordingDelegate>();
    listener->setDelegate(second);
    EXPECT_EQ(listener->delegate(), second);
    ASSERT_TRUE(sendDatagram(port, QVOSCData{3}));
    ASSERT_TRUE(runUntilReceived(*second, 1));
    loop.runUntil([] { return false; }, 20ms);

    ASSERT_EQ(recorder->datagrams.size(), 1u);
    EXPECT_EQ(*recorder->datagrams[0], QVOSCData{1});
    ASSERT_EQ(second->datagrams.size(), 1u);
    EXPECT_EQ(*second->datagrams[0], QVOSCData{3});
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, SwappingDelegatesDuringAStreamLosesNoDatagram) {
    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    constexpr int count = 500;
    std::thread sender([port = portOf(*listener)] {
        for (int i = 0; i < count; ++i) {
            sendDatagram(port, QVOSCData{static_cast<uint8_t>(i)});
            std::this_thread::sleep_for(20us);
        }
    });
    std::vector<std::shared_ptr<RecordingDelegate>> delegates = {recorder};
    size_t received = 0;
    loop.runUntil(
        [&] {
            received = 0;
            for (const auto& delegate : delegates) {
                received += delegate->datagrams.size();
            }
            delegates.push_back(std::make_shared<RecordingDelegate>());
            listener->setDelegate(delegates.back());
            return received == count;
        },
        patience);
    sender.join();
    EXPECT_EQ(received, size_t{count});
    listener->stopListening();
}

TEST_F(QVOSCListenerTest, TheSamePortCanBeBoundAgainTwoHundredTimesWhileDatagramsArrive) {
    const uint16_t port = freeUdpPort();
    auto listener = listenerWith(recorder, port);
    ASSERT_NE(listener, nullptr);
    std::atomic<bool> sending = true;
    std::thread sender([&] {
        while (sending) {
            sendDatagram(port, QVOSCData{9});
            std::this_thread::sleep_for(50us);
        }
    });
    for (int round = 0; round < 200 && listener; ++round) {
        listener->stopListening();
        listener = listenerWith(recorder, port);
        EXPECT_NE(listener, nullptr) << "round " << round;
        loop.runUntil([] { return false; }, 1ms);
    }
    sending = false;
    sender.join();
    ASSERT_NE(listener, nullptr);

    // The last listener still receives: datagrams of the stream may come before this one.
    ASSERT_TRUE(sendDatagram(port, QVOSCData{10}));
    EXPECT_TRUE(loop.runUntil(
        [&] {
            return !recorder->datagrams.empty() && *recorder->datagrams.back() == QVOSCData{10};
        },
        patience));
    listener->stopListening();
    EXPECT_TRUE(eventually([] { return threadsNamed("OSCListener").empty(); }));
}

std::atomic<int> interruptions = 0;

TEST_F(QVOSCListenerTest, ASignalThatInterruptsTheWaitDoesNotEndReception) {
    struct sigaction action {};
    action.sa_handler = [](int) { ++interruptions; };
    action.sa_flags = 0;  // no SA_RESTART: the wait returns EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    const auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    ASSERT_TRUE(eventually([] { return threadsNamed("OSCListener").size() == 1; }));
    const pid_t listenerThread = threadsNamed("OSCListener").front();
    for (int i = 1; i <= 3; ++i) {
        std::this_thread::sleep_for(20ms);  // let it settle back into its wait
        ASSERT_EQ(syscall(SYS_tgkill, getpid(), listenerThread, SIGUSR1), 0);
        ASSERT_TRUE(eventually([i] { return interruptions >= i; }));
    }

    ASSERT_TRUE(sendDatagram(portOf(*listener), QVOSCData{5}));
    EXPECT_TRUE(runUntilReceived(*recorder, 1));
    listener->stopListening();
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(QVOSCListenerTest, AFailedReceiveIsReportedAndListeningResumesOnTheSamePort) {
    const struct {
        const char* name;
        void (*breakSocket)(int socket);
        std::string reason;
    } cases[] = {
        {"shut down by someone else", [](int socket) { shutdown(socket, SHUT_RD); },
         "the socket was shut down"},
        // Set while the thread waits, it takes effect from the next receive on.
        {"a receive that times out",
         [](int socket) {
             const timeval timeout{0, 20000};
             setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
         },
         std::strerror(EAGAIN)},
    };
    for (const auto& broken : cases) {
        SCOPED_TRACE(broken.name);
        const auto received = std::make_shared<RecordingDelegate>();
        const auto listener = listenerWith(received);
        ASSERT_NE(listener, nullptr);
        const uint16_t port = portOf(*listener);
        EXPECT_EQ(listener->receiveErrorCount(), 0u);

        broken.breakSocket(listener->socketDescriptor());
        ASSERT_TRUE(sendDatagram(port, QVOSCData{1}));
        ASSERT_TRUE(eventually([&] { return listener->receiveErrorCount() > 0; }));
        EXPECT_EQ(listener->lastReceiveError(), broken.reason);

        // Sent again and again until one arrives: the socket is back after about a second.
        const auto arrived = [&] {
            return std::any_of(received->datagrams.begin(), received->datagrams.end(),
                               [](const auto& datagram) { return *datagram == QVOSCData{2}; });
        };
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!arrived() && std::chrono::steady_clock::now() < deadline) {
            ASSERT_TRUE(sendDatagram(port, QVOSCData{2}));
            loop.runUntil(arrived, 50ms);
        }
        EXPECT_TRUE(arrived());
        EXPECT_EQ(portOf(*listener), port);
        EXPECT_EQ(listener->receiveErrorCount(), 1u);

        // Answers leave from it again.
        UdpReceiver peer;
        EXPECT_TRUE(listener->sendPacketTo(QVOSCMessage(QVOSCAddress::addressWithString("/a")),
                                           *numericEndpoint("127.0.0.1", peer.port())));
        EXPECT_TRUE(peer.receive(patience).has_value());

        // Stopping during the wait before a re-opening ends the wait.
        broken.breakSocket(listener->socketDescriptor());
        ASSERT_TRUE(sendDatagram(port, QVOSCData{3}));
        ASSERT_TRUE(eventually([&] { return listener->receiveErrorCount() > 1; }));
        listener->stopListening();
        EXPECT_EQ(listener->socketDescriptor(), -1);
    }
}

TEST_F(QVOSCListenerTest, ItsThreadKeepsItAliveAfterTheOwnerLetsGo) {
    auto listener = listenerWith(recorder);
    ASSERT_NE(listener, nullptr);
    const uint16_t port = portOf(*listener);
    const std::weak_ptr<QVOSCListener> watcher = listener;
    listener.reset();

    ASSERT_TRUE(sendDatagram(port, QVOSCData{1}));
    ASSERT_TRUE(runUntilReceived(*recorder, 1));

    // The thread may now hold the last share, and the listener is then destroyed on it.
    watcher.lock()->stopListening();
    EXPECT_TRUE(eventually([&] { return watcher.expired(); }));
}

}  // namespace
