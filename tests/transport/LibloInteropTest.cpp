// liblo's command-line tools as an independent OSC peer, both ways, on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "osc/QVOSCDecoder.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Udp.h"
#include "tests/transport/DumpPort.h"
#include "tests/transport/RecordingDelegate.h"
#include "transport/EventLoop.h"
#include "transport/udp/QVOSCListener.h"
#include "transport/udp/QVOSCSender.h"

using namespace std::chrono_literals;

namespace {

const std::string oscsend = "/usr/bin/oscsend";
const std::string oscdump = "/usr/bin/oscdump";
const std::string kestranoOsc = KESTRANO_OSC_PATH;
constexpr auto patience = 5s;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

// oscdump prints each message as "<time tag> <address> <types> <values...>"; the time tag is
// dropped here.
std::vector<std::string> dumpedMessages(const std::string& output) {
    std::vector<std::string> messages;
    for (const auto& line : lines(output)) {
        const auto blank = line.find(' ');
        messages.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return messages;
}

std::vector<std::string> dumpedTimeTags(const std::string& output) {
    std::vector<std::string> tags;
    for (const auto& line : lines(output)) {
        tags.push_back(line.substr(0, line.find(' ')));
    }
    return tags;
}

class LibloInteropTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(access(oscsend.c_str(), X_OK), 0) << oscsend << " is missing (liblo-tools)";
        ASSERT_EQ(access(oscdump.c_str(), X_OK), 0) << oscdump << " is missing (liblo-tools)";
    }

    // oscdump binds its port itself and says nothing when ready, so `send` is repeated until
    // the first message shows; then the dump waits for `lineCount` lines in all.
    static bool dumpUntil(ChildProcess& dump, size_t lineCount, const std::function<void()>& send) {
        for (int attempt = 0; attempt < 50 && dump.output().empty(); ++attempt) {
            send();
            dump.readUntil([&] { return !dump.output().empty(); }, 100ms);
        }
        return dump.readUntil([&] { return lines(dump.output()).size() >= lineCount; }, patience);
    }
};

TEST_F(LibloInteropTest, OscsendReachesOurListener) {
    EventLoop loop;
    auto recorder = std::make_shared<RecordingDelegate>();
    auto listener = std::make_shared<QVOSCListener>(loop);
    listener->setDelegate(recorder);
    ASSERT_TRUE(listener->startListeningOnPort(0));
    const auto port = std::to_string(boundPort(listener->socketDescriptor()));

    const auto sent = runProgram({oscsend, "localhost", port, "/a/b", "ifs", "1", "2.5", "hi"});
    ASSERT_EQ(sent.status, 0) << sent.errorOutput;
    ASSERT_TRUE(loop.runUntil([&] { return !recorder->datagrams.empty(); }, patience));

    const auto message =
        std::dynamic_pointer_cast<QVOSCMessage>(QVOSCDecoder::decodeData(*recorder->datagrams[0]));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->address()->address(), "/a/b");
    EXPECT_EQ(message->typeTagString(), ",ifs");
    const auto arguments = message->arguments();
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[0]->intValue(), 1);
    EXPECT_EQ(arguments[1]->floatValue(), 2.5f);
    EXPECT_EQ(arguments[2]->stringValue(), "hi");
    listener->stopListening();
}

TEST_F(LibloInteropTest, OscsendReachesKestranoOscDump) {
    ChildProcess dump({kestranoOsc, "dump", "0"});
    ASSERT_TRUE(dump.started());
    const auto announced = waitForDumpPort(dump);
    ASSERT_TRUE(announced.has_value()) << dump.errorOutput();
    const std::string port = std::to_string(*announced);

    const auto sent = runProgram({oscsend, "localhost", port, "/a/b", "ifs", "1", "2.5", "hi"});
    ASSERT_EQ(sent.status, 0) << sent.errorOutput;
    const std::string expected =
        "MESSAGE:\naddress:/a/b\n types:,ifs\ni { 1 }\nf { 2.500000 }\ns { hi }\n";
    EXPECT_TRUE(dump.readUntil([&] { return dump.output() == expected; }, patience))
        << dump.output();

    dump.sendSignal(SIGINT);
    EXPECT_EQ(dump.wait(patience), 0);
}

TEST_F(LibloInteropTest, OscdumpReadsOurSenderImmediatelyAndGathered) {
    const auto port = freeUdpPort();
    ChildProcess dump({oscdump, "-L", std::to_string(port)});
    ASSERT_TRUE(dump.started());
    EventLoop loop;
    const auto sender = QVOSCSender::senderWithDestinationHostName("localhost", port, loop);
    ASSERT_NE(sender, nullptr);

    auto message = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/a/b"));
    message->attachArguments({QVOSCArgument::argumentWithInt(1),
                              QVOSCArgument::argumentWithFloat(2.5f),
                              QVOSCArgument::argumentWithString("hi")});
    ASSERT_TRUE(dumpUntil(dump, 1, [&] { sender->sendOSCPacket(*message); }));
    const size_t immediate = lines(dump.output()).size();

    auto second = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/c"));
    second->attachArgument(QVOSCArgument::argumentWithDataBlob(QVOSCData{0xAB, 0x10}));
    sender->addOSCMessage(message);
    sender->addOSCMessage(second);
    loop.runUntil([] { return false; }, 50ms);  // the flush timer sends them as one bundle
    ASSERT_TRUE(
        dump.readUntil([&] { return lines(dump.output()).size() >= immediate + 2; }, patience));

    const auto messages = dumpedMessages(dump.output());
    for (size_t i = 0; i < immediate; ++i) {
        EXPECT_EQ(messages[i], "/a/b ifs 1 2.500000 \"hi\"");
    }
    EXPECT_EQ(messages[immediate], "/a/b ifs 1 2.500000 \"hi\"");
    EXPECT_EQ(messages[immediate + 1], "/c b [2b 0xab 0x10]");
    const auto tags = dumpedTimeTags(dump.output());
    EXPECT_EQ(tags[immediate], tags[immediate + 1]);  // one bundle, one time tag
    EXPECT_NE(tags[immediate], "00000000.00000001");  // a real time, not "immediately"
}

TEST_F(LibloInteropTest, OscdumpReadsKestranoOscSend) {
    const auto port = std::to_string(freeUdpPort());
    ChildProcess dump({oscdump, "-L", port});
    ASSERT_TRUE(dump.started());
    ProgramResult sent;
    ASSERT_TRUE(dumpUntil(dump, 1, [&] {
        sent = runProgram({kestranoOsc, "send", "localhost", port, "/k", "i", "-5", "f", "1e3", "s",
                           "a b", "b", "00ff10"});
    }));
    EXPECT_EQ(sent.status, 0) << sent.errorOutput;
    EXPECT_EQ(dumpedMessages(dump.output())[0], "/k ifsb -5 1000.000000 \"a b\" [3b 00 0xff 0x10]");
}

}  // namespace
