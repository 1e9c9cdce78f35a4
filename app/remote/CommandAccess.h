#pragma once

#include <optional>
#include <string>

#include "app/remote/SourceAllowList.h"
#include "app/settings/SettingsModel.h"
#include "transport/NetworkEndpoint.h"

// Who may change the program from the network, as remoteControl and remoteControlFrom say: the
// same rule for OSC commands and the browser page, followed as the settings change.
class CommandAccess {
  public:
    explicit CommandAccess(SettingsModel& settings);

    // Whether remote control is on.
    bool on() const;
    // Whether `source` may command: remote control is on and the list allows it (no list: any).
    bool allows(const NetworkEndpoint& source) const;
    // Who may command, in words, where that is not plainly the listed sources: with remote
    // control on, "any source" without a list and "nobody" with a list the settings refused;
    // empty otherwise.
    std::string note() const;

  private:
    void takeAllowList();

    SettingsModel& settings_;
    SettingsModel::Subscription subscription_;
    // Nothing while any source may command.
    std::optional<SourceAllowList> allowed_;
    // Why the stored list was refused; empty when it was read.
    std::string refusal_;
};
