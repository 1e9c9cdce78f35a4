#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/remote/ReplyBudget.h"
#include "app/remote/SourceAllowList.h"
#include "app/settings/SettingsModel.h"
#include "osc/QVOSCPacket.h"
#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

// Commands at the listen port, when the settings turn remote control on:
// /kestrano/set/<key> VALUE changes one setting as the window would, /kestrano/save stores them,
// /kestrano/get answers every setting and the readings in one bundle, /kestrano/get/<key> one.
// A further mapping's key is NAME/KEY there too (/kestrano/set/kick/bandHighCut).
class RemoteControl {
  public:
    // What the program reads now, for /kestrano/get.
    struct Readings {
        // dBFS; nothing without an input.
        std::optional<float> inputLevel;
        std::optional<float> lastValueSent;
        // The held sample peak, dBFS; nothing without an input.
        std::optional<float> samplePeak;
    };
    struct Hooks {
        std::function<Readings()> readings;
        // Saves the settings; nothing when that worked, otherwise why not.
        std::function<std::optional<std::string>()> save;
        std::function<void(const QVOSCPacket& packet, const NetworkEndpoint& destination)> reply;
    };

    RemoteControl(SettingsModel& settings, MonotonicClock clock, Hooks hooks);

    // Notes an incoming datagram, which earns room for answers; true when it is a command to
    // obey: remote control is on, the datagram is addressed to it and its source is allowed.
    bool admits(const QVOSCData& data, const NetworkEndpoint& source);
    void obey(const QVOSCData& data, const NetworkEndpoint& source);
    // Follows the settings that turn it on and say who may command.
    void settingChanged(std::string_view key);

    // Answers left out to keep within the reply budget.
    uint64_t droppedReplies() const { return budget_.dropped(); }
    // Commands ignored because their source is not in remoteControlFrom.
    uint64_t refusedCommands() const { return refusedCommands_; }

  private:
    void answerGet(const std::string& what, const NetworkEndpoint& source);
    void reply(const QVOSCPacket& packet, const NetworkEndpoint& destination);

    SettingsModel& settings_;
    Hooks hooks_;
    ReplyBudget budget_;
    // Nothing while any source may command.
    std::optional<SourceAllowList> allowed_;
    uint64_t refusedCommands_ = 0;
};
