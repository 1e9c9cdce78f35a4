// The whole program on real audio: kestrano --headless meters the default source and sends the
// mapped level to a UDP receiver, also as two instances side by side.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>

#include "tests/app/PortProbe.h"
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

// A technician watching two inputs, or two bands of one, runs two programs on two settings files.
TEST(HeadlessLevelTest, TwoProgramsOnTheirOwnSettingsFilesRunSideBySide) {
    TempDir folder;
    ScopedEnvironment config{"XDG_CONFIG_HOME", (folder.path() / "config").string()};
    struct Instance {
        std::string settingsFile;
        float maxValue;
        UdpReceiver zandorex{};
        uint16_t listenPort = freeUdpPort();
    };
    std::array<Instance, 2> instances{{{(folder.path() / "stage-left.conf").string(), 10.0f},
                                       {(folder.path() / "stage-right.conf").string(), 20.0f}}};
    std::vector<std::unique_ptr<ChildProcess>> programs;
    for (Instance& instance : instances) {
        const std::vector<std::string> config{"--config", instance.settingsFile};
        ASSERT_TRUE(storeLevelSettings(instance.zandorex.port(), config, instance.listenPort));
        ASSERT_EQ(runProgram({KESTRANO_PATH, "--config", instance.settingsFile, "--set",
                              "maxValue=" + std::to_string(instance.maxValue)})
                      .status,
                  0);
        programs.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
            KESTRANO_PATH, "--config", instance.settingsFile, "--headless"}));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "config" / "Kestrano"));

    SineTone tone("feed");
    for (size_t index = 0; index < instances.size(); ++index) {
        Instance& instance = instances[index];
        ASSERT_TRUE(receiveSteadyTone(instance.zandorex, 6s)) << programs[index]->errorOutput();
        EXPECT_EQ(bindErrorOnPort(instance.listenPort), EADDRINUSE);
        // The same -9.01 dBFS sine, mapped onto each file's own range.
        const float scale = instance.maxValue / 10.0f;
        for (int tick = 0; tick < 10; ++tick) {
            const auto datagram = instance.zandorex.receive(1s);
            ASSERT_TRUE(datagram.has_value());
            const auto value = levelValue(*datagram);
            ASSERT_TRUE(value.has_value());
            EXPECT_NEAR(*value, 7.09f * scale, 0.15f * scale);
        }
    }
    for (const auto& program : programs) {
        program->sendSignal(SIGTERM);
        EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
    }
}

}  // namespace
