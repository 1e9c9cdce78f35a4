// The whole program on real audio: kestrano --headless meters the default source and sends the
// mapped level to a UDP receiver.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/audio/HeadlessProgram.h"
#include "tests/audio/PulseTestSupport.h"

using namespace std::chrono_literals;

namespace {

TEST(HeadlessLevelTest, ContinuousModeSendsTheLevelOfASineAtMinus6dBFSPeak) {
    HeadlessLevelRun run;
    ASSERT_TRUE(run.settingsStored);
    ASSERT_TRUE(run.program.started());
    UdpReceiver& zandorex = run.zandorex;
    ChildProcess& program = run.program;
    SineTone tone("feed");
    ASSERT_TRUE(receiveSteadyTone(zandorex, 6s)) << program.errorOutput();
    // -9.01 dBFS average power: position 2 * 10^(-9.01 / 20) = 0.709, value 7.09 of 0..10.
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
