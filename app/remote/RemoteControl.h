#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/remote/CommandAccess.h"
#include "app/remote/RemoteRequest.h"
#include "app/remote/ReplyBudget.h"
#include "app/settings/SettingsModel.h"
#include "osc/QVOSCPacket.h"
#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

// Commands at the listen port, when the settings turn remote control on:
// /kestrano/set/<key> VALUE changes one setting as the window would, /kestrano/save stores them,
// /kestrano/get answers every setting and the readings in one bundle, /kestrano/get/<key> one,
// /kestrano/tap taps the tempo, /kestrano/preset NAME switches to a preset,
// /kestrano/preset/save NAME stores the set-up as one, /kestrano/get/presets lists them.
// A further mapping's key is NAME/KEY there too (/kestrano/set/kick/bandHighCut).
class RemoteControl {
  public:
    // What the program reads now, for /kestrano/get.
    struct Readings {
        // Of every mapping, in its channels and band: the first (no name) as level, peak and
        // lastValueSent, each further one as NAME/level and so on. Levels in dBFS, nothing
        // without an input; the first mapping's peak is the input's, held for the eye.
        struct Mapping {
            std::string name;
            std::optional<float> inputLevel;
            std::optional<float> lastValueSent;
            std::optional<float> samplePeak;
        };
        std::vector<Mapping> mappings;
        // Whether the set-up differs from the preset it came from.
        bool presetChanged = false;
    };
    struct Hooks {
        std::function<Readings()> readings;
        // Saves the settings, and tells `answered` once the file holds them (nothing) or why it
        // does not: a file written off the main thread answers later.
        using Answer = std::function<void(const std::optional<std::string>& failure)>;
        std::function<void(Answer answered)> save;
        std::function<void(const QVOSCPacket& packet, const NetworkEndpoint& destination)> reply;
        // A tap of the tempo.
        std::function<void()> tap;
        // Switches to the preset NAME, or stores the set-up as it: nothing when done, otherwise
        // why not.
        std::function<std::optional<std::string>(std::string_view name)> switchPreset;
        std::function<std::optional<std::string>(std::string_view name)> savePreset;
        std::function<std::vector<std::string>()> presetNames;
    };

    RemoteControl(SettingsModel& settings, MonotonicClock clock, Hooks hooks);

    // True when the datagram is a command to obey: remote control is on, the datagram is
    // addressed to it and its source is allowed. Only such a datagram earns room for answers.
    bool admits(const QVOSCData& data, const NetworkEndpoint& source);
    void obey(const QVOSCData& data, const NetworkEndpoint& source);

    // Answers left out to keep within the reply budget.
    uint64_t droppedReplies() const { return budget_.dropped(); }
    // Commands ignored because their source is not in remoteControlFrom.
    uint64_t refusedCommands() const { return refusedCommands_; }
    // Who may command, in words, where that is not plainly the listed sources: with remote
    // control on, "any source" without a list and "nobody" with a list the settings refused;
    // empty otherwise.
    std::string accessNote() const;

  private:
    // `what`: one setting or reading; all of them without it.
    void answerGet(const std::optional<std::string>& what, const NetworkEndpoint& source);
    // /kestrano/preset and /kestrano/preset/save NAME; nothing when answered, otherwise why not.
    std::optional<std::string> obeyPreset(const RemoteRequest& request,
                                          const NetworkEndpoint& source);
    void answerPresetNames(const NetworkEndpoint& source);
    // Why `what` names nothing to answer.
    std::string getProblem(std::string_view what) const;
    void reply(const QVOSCPacket& packet, const NetworkEndpoint& destination);

    SettingsModel& settings_;
    Hooks hooks_;
    ReplyBudget budget_;
    CommandAccess access_;
    uint64_t refusedCommands_ = 0;
};
