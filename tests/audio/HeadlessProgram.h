#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "osc/QVOSCTypes.h"
#include "tests/audio/PulseTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/Udp.h"

// Running the real kestrano program (KESTRANO_PATH) against the private sound server.

// Stores the settings of a level run in the current XDG_CONFIG_HOME, or in the file given by
// `options` ({"--config", FILE}): active, continuous mode 0..10, address "level", sending to
// `sendPort`, listening on `listenPort` (a free one when 0); false when `program` refused one.
bool storeLevelSettings(uint16_t sendPort, const std::vector<std::string>& options = {},
                        uint16_t listenPort = 0, const std::string& program = KESTRANO_PATH);

// `kestrano --headless` (the one built here) started after storing each of `settings` with --set
// in the current XDG_CONFIG_HOME; nothing, with the refused setting told on standard error, when
// --set refused one.
std::unique_ptr<ChildProcess> startHeadless(const std::vector<std::string>& settings);

// A remote-control request: a message to `address` with one string argument, or none.
QVOSCData remoteCommand(const std::string& address, const std::optional<std::string>& text = {});

// The float argument of a message "/zandorex/level" with one float, or nothing for anything else.
std::optional<float> levelValue(const QVOSCData& datagram);

// Receives level messages until five in a row carry more than 6 (the -6 dBFS sine gives 7.09);
// false when that does not happen within `timeout`.
bool receiveSteadyTone(UdpReceiver& receiver, std::chrono::milliseconds timeout);

// `kestrano --headless` (by default the one built here) started on the level settings in a
// configuration folder of its own, sending to `zandorex`. Members are made in order: the settings
// are stored before the start.
struct HeadlessLevelRun {
    explicit HeadlessLevelRun(std::string path = KESTRANO_PATH) : programPath(std::move(path)) {}

    std::string programPath;
    TempDir configHome;
    ScopedEnvironment config{"XDG_CONFIG_HOME", configHome.path().string()};
    UdpReceiver zandorex;
    uint16_t listenPort = freeUdpPort();
    bool settingsStored = storeLevelSettings(zandorex.port(), {}, listenPort, programPath);
    ChildProcess program{{programPath, "--headless"}};
};
