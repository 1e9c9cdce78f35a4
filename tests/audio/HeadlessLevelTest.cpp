// The whole program on real audio: kestrano --headless meters the default source and sends the
// mapped level to a UDP receiver, also as two instances side by side.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "tests/app/support/PortProbe.h"
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

// A null sink loaded for one test; its monitor is another input.
class ExtraSink {
  public:
    explicit ExtraSink(const std::string& name)
        : module_(pactl({"load-module", "module-null-sink", "sink_name=" + name, "format=float32le",
                         "rate=48000", "channels=2"})) {}
    ~ExtraSink() {
        if (module_) {
            pactl({"unload-module", module_->substr(0, module_->find('\n'))});
        }
    }
    bool loaded() const { return module_.has_value(); }

  private:
    std::optional<std::string> module_;
};

// Waits for five values in a row within `tolerance` of `expected`.
bool receiveSteadily(UdpReceiver& receiver, float expected, float tolerance) {
    const auto deadline = std::chrono::steady_clock::now() + 6s;
    int steady = 0;
    while (steady < 5 && std::chrono::steady_clock::now() < deadline) {
        const auto datagram = receiver.receive(500ms);
        const auto value = datagram ? levelValue(*datagram) : std::nullopt;
        steady = value && std::abs(*value - expected) <= tolerance ? steady + 1 : 0;
    }
    return steady == 5;
}

// A technician watching two inputs runs two programs on two settings files, each with its own
// ports and input.
TEST(HeadlessLevelTest, TwoProgramsOnTheirOwnSettingsFilesAndInputsRunSideBySide) {
    ExtraSink second("second");
    ASSERT_TRUE(second.loaded());
    TempDir folder;
    ScopedEnvironment config{"XDG_CONFIG_HOME", (folder.path() / "config").string()};
    struct Instance {
        std::string settingsFile;
        std::optional<std::string> inputDevice;
        float expected;  // of 0..10
        UdpReceiver zandorex{};
        uint16_t listenPort = freeUdpPort();
    };
    // The default input "mic" carries the -6 dBFS peak sine (7.09); the monitor of "second"
    // the same sine 6 dB lower: -15.03 dBFS average power, position 0.355.
    std::array<Instance, 2> instances{
        {{(folder.path() / "stage-left.conf").string(), std::nullopt, 7.09f},
         {(folder.path() / "stage-right.conf").string(), "second.monitor", 3.55f}}};
    std::vector<std::unique_ptr<ChildProcess>> programs;
    for (Instance& instance : instances) {
        const std::vector<std::string> config{"--config", instance.settingsFile};
        ASSERT_TRUE(storeLevelSettings(instance.zandorex.port(), config, instance.listenPort));
        if (instance.inputDevice) {
            ASSERT_EQ(runProgram({KESTRANO_PATH, "--config", instance.settingsFile, "--set",
                                  "inputDevice=" + *instance.inputDevice})
                          .status,
                      0);
        }
        programs.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
            KESTRANO_PATH, "--config", instance.settingsFile, "--headless"}));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "config" / "Kestrano"));

    SineTone tone("feed");
    SineTone quieter("second", {"vol", "-6dB"});
    for (size_t index = 0; index < instances.size(); ++index) {
        Instance& instance = instances[index];
        ASSERT_TRUE(receiveSteadily(instance.zandorex, instance.expected, 0.15f))
            << programs[index]->errorOutput();
        EXPECT_EQ(bindErrorOnPort(instance.listenPort), EADDRINUSE);
        for (int tick = 0; tick < 10; ++tick) {
            const auto datagram = instance.zandorex.receive(1s);
            ASSERT_TRUE(datagram.has_value());
            const auto value = levelValue(*datagram);
            ASSERT_TRUE(value.has_value());
            EXPECT_NEAR(*value, instance.expected, 0.15f);
        }
    }
    for (const auto& program : programs) {
        program->sendSignal(SIGTERM);
        EXPECT_EQ(program->wait(3s), 0) << program->errorOutput();
    }
}

}  // namespace
