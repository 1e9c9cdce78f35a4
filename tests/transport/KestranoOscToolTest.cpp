#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>

#include "osc/QVOSCMessage.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Ports.h"
#include "tests/support/Udp.h"
#include "tests/transport/DumpPort.h"

using namespace std::chrono_literals;

namespace {

const std::string tool = KESTRANO_OSC_PATH;

ProgramResult runTool(std::vector<std::string> arguments, std::string_view input = {}) {
    arguments.insert(arguments.begin(), tool);
    return runProgram(arguments, input);
}

TEST(KestranoOscToolTest, BadArgumentsGetOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"send"},
        {"send", "localhost", "9"},
        {"send", "localhost", "0", "/a"},
        {"send", "localhost", "65536", "/a"},
        {"send", "localhost", "9x", "/a"},
        {"send", "localhost", " 9", "/a"},
        {"send", "localhost", "9", "a"},
        {"send", "localhost", "9", "/\xC3\xA9"},
        {"send", "localhost", "9", "/a", "i"},
        {"send", "localhost", "9", "/a", "i", "2147483648"},
        {"send", "localhost", "9", "/a", "i", "1.5"},
        {"send", "localhost", "9", "/a", "i", ""},
        {"send", "localhost", "9", "/a", "f", "nan"},
        {"send", "localhost", "9", "/a", "f", "inf"},
        {"send", "localhost", "9", "/a", "f", "1e39"},
        {"send", "localhost", "9", "/a", "f", "2.5x"},
        {"send", "localhost", "9", "/a", "b", "abc"},
        {"send", "localhost", "9", "/a", "b", "zz"},
        {"send", "localhost", "9", "/a", "s", "caf\xC3\xA9"},
        {"send", "localhost", "9", "/a", "x", "1"},
        {"send", "localhost", "9", "/a", "ii", "1"},
        {"dump"},
        {"dump", "-1"},
        {"dump", "65536"},
        {"dump", "port"},
        {"dump", "1", "2"},
        {"send", "--tcp"},
        {"send", "--tcp-length", "localhost", "0", "/a"},
        {"send", "--tcp", "--tcp-length", "localhost", "9", "/a"},
        {"dump", "--tcp"},
        {"dump", "--tcp", "port"},
        {"dump", "--udp", "9"},
        {"decode", "extra"},
    };
    for (const auto& arguments : cases) {
        const auto result = runTool(arguments);
        std::string shown;
        for (const auto& argument : arguments) {
            shown += " '" + argument + "'";
        }
        EXPECT_EQ(result.status, 2) << shown;
        EXPECT_EQ(result.output, "") << shown;
        EXPECT_EQ(std::count(result.errorOutput.begin(), result.errorOutput.end(), '\n'), 1)
            << shown;
    }
    for (const std::string_view input : {"2F7", "2F7G", "0x2F"}) {
        const auto result = runTool({"decode"}, input);
        EXPECT_EQ(result.status, 2) << input;
        EXPECT_EQ(std::count(result.errorOutput.begin(), result.errorOutput.end(), '\n'), 1)
            << input;
    }
}

TEST(KestranoOscToolTest, HelpGoesToStandardOutput) {
    for (const auto& arguments : {std::vector<std::string>{"--help"},
                                  {"send", "--help"},
                                  {"dump", "-h"},
                                  {"decode", "--help"}}) {
        const auto result = runTool(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output.rfind("Usage: kestrano-osc", 0), 0u) << result.output;
        EXPECT_EQ(result.errorOutput, "");
    }
}

TEST(KestranoOscToolTest, DecodePrintsThePacketOrNoPacket) {
    const auto level =
        runTool({"decode"}, "2F7A616E 646F7265 782F6C65 76656C00\n2c660000 41200000\n");
    EXPECT_EQ(level.status, 0);
    EXPECT_EQ(level.output, "MESSAGE:\naddress:/zandorex/level\n types:,f\nf { 10.000000 }\n");

    for (const std::string_view input : {"", "00", "2F780000"}) {
        const auto nothing = runTool({"decode"}, input);
        EXPECT_EQ(nothing.status, 1) << input;
        EXPECT_EQ(nothing.output, "no packet\n") << input;
    }
}

TEST(KestranoOscToolTest, SendPutsExactlyTheMessageOnTheWire) {
    UdpReceiver receiver;
    const auto port = std::to_string(receiver.port());

    const auto sent = runTool({"send", "127.0.0.1", port, "/zandorex/ab", "i", "1", "s", "hi"});
    EXPECT_EQ(sent.status, 0) << sent.errorOutput;
    const QVOSCData expected = {0x2F, 0x7A, 0x61, 0x6E, 0x64, 0x6F, 0x72, 0x65, 0x78, 0x2F,
                                0x61, 0x62, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x69, 0x73, 0x00,
                                0x00, 0x00, 0x00, 0x01, 0x68, 0x69, 0x00, 0x00};
    EXPECT_EQ(receiver.receive(2s), expected);

    const auto withBlob =
        runTool({"send", "localhost", port, "/b", "f", "-0.5", "b", "A0b1", "b", ""});
    EXPECT_EQ(withBlob.status, 0) << withBlob.errorOutput;
    const QVOSCData blobs = {'/', 'b', 0, 0, ',', 'f', 'b',  'b',  0, 0, 0, 0, 0xBF, 0,
                             0,   0,   0, 0, 0,   2,   0xA0, 0xB1, 0, 0, 0, 0, 0,    0};
    EXPECT_EQ(receiver.receive(2s), blobs);

    const auto unresolvable = runTool({"send", "no-such-host.invalid", port, "/x"});
    EXPECT_EQ(unresolvable.status, 1);
    EXPECT_NE(unresolvable.errorOutput.find("no-such-host.invalid"), std::string::npos);
}

TEST(KestranoOscToolTest, DumpPrintsEachDatagramUntilTerminated) {
    ChildProcess dump({tool, "dump", "0"});
    ASSERT_TRUE(dump.started());
    const auto announced = waitForDumpPort(dump);
    ASSERT_TRUE(announced.has_value()) << dump.errorOutput();
    const uint16_t port = *announced;

    auto message = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/m"));
    ASSERT_TRUE(sendDatagram(port, QVOSCData{1, 2, 3}));
    ASSERT_TRUE(sendDatagram(port, message->packetizedData()));
    ASSERT_TRUE(sendDatagram(port, {}));
    const std::string expected =
        "UNDECODABLE: datagram of 3 bytes\n"
        "MESSAGE:\naddress:/m\n types:,\n"
        "UNDECODABLE: datagram of 0 bytes\n";
    EXPECT_TRUE(dump.readUntil([&] { return dump.output() == expected; }, 5s)) << dump.output();

    dump.sendSignal(SIGTERM);
    EXPECT_EQ(dump.wait(5s), 0);
}

TEST(KestranoOscToolTest, DumpOnABusyPortFails) {
    UdpReceiver holder;
    const auto result = runTool({"dump", std::to_string(holder.port())});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errorOutput.rfind("bind: ", 0), 0u) << result.errorOutput;
}

// Over TCP, in either framing, with liblo's tools at the other end.
TEST(KestranoOscToolTest, SendAndDumpOverTcpWorkWithLiblo) {
    for (const std::string option : {"--tcp", "--tcp-length"}) {
        const auto port = std::to_string(freePortBelowEphemeralRange(SOCK_STREAM));
        ChildProcess oscdump({"/usr/bin/oscdump", "-L", "osc.tcp://:" + port});
        ASSERT_TRUE(waitForTcpListener(static_cast<uint16_t>(std::stoi(port)), 5s)) << option;
        const auto sent = runTool(
            {"send", option, "localhost", port, "/zandorex/ab", "i", "1", "s", "hi", "b", "c0db"});
        EXPECT_EQ(sent.status, 0) << option << ": " << sent.errorOutput;
        const std::string expected = "/zandorex/ab isb 1 \"hi\" [2b 0xc0 0xdb]\n";
        EXPECT_TRUE(oscdump.readUntil(
            [&] { return oscdump.output().find(expected) != std::string::npos; }, 5s))
            << option << ": " << oscdump.output();
    }

    ChildProcess dump({tool, "dump", "--tcp", "0"});
    const auto announced = waitForDumpPort(dump, "TCP");
    ASSERT_TRUE(announced.has_value()) << dump.errorOutput();
    const auto port = std::to_string(*announced);
    struct Case {
        std::vector<std::string> sender;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {{"/usr/bin/oscsend", "osc.tcp://127.0.0.1:" + port, "/m", "i", "5"},
         "MESSAGE:\naddress:/m\n types:,i\ni { 5 }\n"},
        {{tool, "send", "--tcp", "127.0.0.1", port, "/s", "b", "c0"},
         "MESSAGE:\naddress:/s\n types:,b\nb { <c0> }\n"},
        {{tool, "send", "--tcp-length", "127.0.0.1", port, "/l", "f", "2"},
         "MESSAGE:\naddress:/l\n types:,f\nf { 2.000000 }\n"},
    };
    std::string printed;
    for (const auto& test : cases) {
        const auto result = runProgram(test.sender);
        EXPECT_EQ(result.status, 0) << test.sender[0] << ": " << result.errorOutput;
        printed += test.printed;
        EXPECT_TRUE(dump.readUntil([&] { return dump.output() == printed; }, 5s))
            << test.sender[0] << ": " << dump.output();
    }

    const auto refused = runTool({"send", "--tcp", "127.0.0.1", "1", "/x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.errorOutput,
              "kestrano-osc: connection to 127.0.0.1:1 lost: Connection refused\n");

    dump.sendSignal(SIGTERM);
    EXPECT_EQ(dump.wait(5s), 0);
    EXPECT_NE(dump.errorOutput().find("connection from 127.0.0.1:"), std::string::npos);
}

}  // namespace
