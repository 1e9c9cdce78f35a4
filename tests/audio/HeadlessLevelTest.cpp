// The whole program on real audio: kestrano --headless meters the default source and sends the
// mapped level to a UDP receiver.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "tests/audio/PulseTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/Udp.h"

using namespace std::chrono_literals;

namespace {

// The float argument of a message "/zandorex/level" with one float, or nothing for anything else.
std::optional<float> levelValue(const QVOSCData& datagram) {
    static constexpr unsigned char header[] = "/zandorex/level\0,f\0";  // and the final zero
    if (datagram.size() != 24 || std::memcmp(datagram.data(), header, 20) != 0) {
        return std::nullopt;
    }
    const uint32_t bits = uint32_t{datagram[20]} << 24 | uint32_t{datagram[21]} << 16 |
                          uint32_t{datagram[22]} << 8 | uint32_t{datagram[23]};
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

ProgramResult kestrano(const std::vector<std::string>& options) {
    std::vector<std::string> arguments{KESTRANO_PATH};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return runProgram(arguments);
}

TEST(HeadlessLevelTest, ContinuousModeSendsTheLevelOfASineAtMinus6dBFSPeak) {
    TempDir configHome;
    ScopedEnvironment config("XDG_CONFIG_HOME", configHome.path().string());
    UdpReceiver zandorex;
    for (const std::string& setting :
         {"zandorexSendPort=" + std::to_string(zandorex.port()),
          "zandorexListenPort=" + std::to_string(freeUdpPort()), std::string("active=true"),
          std::string("type=continuous"), std::string("minValue=0"), std::string("maxValue=10"),
          std::string("address=level")}) {
        ASSERT_EQ(kestrano({"--set", setting}).status, 0) << setting;
    }

    ChildProcess program({KESTRANO_PATH, "--headless"});
    ASSERT_TRUE(program.started());
    SineTone tone("feed");
    // -9.01 dBFS average power: position 2 * 10^(-9.01 / 20) = 0.709, value 7.09 of 0..10.
    int steady = 0;
    for (auto datagram = zandorex.receive(6s); datagram && steady < 5;
         datagram = zandorex.receive(1s)) {
        const auto value = levelValue(*datagram);
        ASSERT_TRUE(value.has_value());
        steady = *value > 6.0f ? steady + 1 : 0;
    }
    ASSERT_EQ(steady, 5) << program.errorOutput();
    for (int tick = 0; tick < 20; ++tick) {
        const auto datagram = zandorex.receive(1s);
        ASSERT_TRUE(datagram.has_value());
        const auto value = levelValue(*datagram);
        ASSERT_TRUE(value.has_value());
        EXPECT_NEAR(*value, 7.09f, 0.15f);
    }

    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.wait(3s), 0) << program.errorOutput();
}

}  // namespace
