#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"

// Waits until `kestrano-osc dump` says which port it listens on ("UDP" or "TCP"), and returns
// that port.
inline std::optional<uint16_t> waitForDumpPort(ChildProcess& dump,
                                               const std::string& protocol = "UDP") {
    const std::string announcement = "listening on " + protocol + " port ";
    const auto lineEnd = [&] {
        const auto start = dump.errorOutput().find(announcement);
        return start == std::string::npos ? std::string::npos
                                          : dump.errorOutput().find('\n', start);
    };
    if (!dump.readUntil([&] { return lineEnd() != std::string::npos; }, std::chrono::seconds(5))) {
        return std::nullopt;
    }
    const auto start = dump.errorOutput().find(announcement) + announcement.size();
    return static_cast<uint16_t>(std::stoi(dump.errorOutput().substr(start, lineEnd() - start)));
}
