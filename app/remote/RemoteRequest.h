#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/settings/SettingsCatalog.h"
#include "osc/QVOSCTypes.h"

// One argument of a remote-control message as it arrived: 'i', 'f', 's', 'T' or 'F', or another
// type letter whose value is not read.
struct RemoteArgument {
    char type = 0;
    int32_t integer = 0;
    float decimal = 0.0f;
    std::string text;
};

// A remote-control message: its address and arguments.
struct RemoteRequest {
    std::string address;
    std::vector<RemoteArgument> arguments;
};

// Reads one OSC message, T and F arguments included (the packet decoder takes only i, f, s and
// b); nothing when the bytes are not a message whose arguments can all be read or skipped.
std::optional<RemoteRequest> readRemoteRequest(QVOSCBytes data);

// The value `argument` gives `setting`, checked as `--set` checks it; nothing with `error` saying
// what is wrong. Numbers, T / F and text are taken where they make sense: a flag as i 1, f 1.0,
// T or "true"; a decimal as i or f; a mode as i 0 / 1 or "trigger". The words name a key of
// `mapping` as NAME/KEY.
std::optional<SettingValue> remoteSettingValue(const SettingDefinition& setting,
                                               const RemoteArgument& argument, std::string& error,
                                               std::string_view mapping = {});
