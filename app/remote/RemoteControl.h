#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/settings/SettingsModel.h"
#include "osc/QVOSCPacket.h"
#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

// Commands at the listen port, when the settings turn remote control on:
// /kestrano/set/<key> VALUE changes one setting as the window would, /kestrano/save stores them,
// /kestrano/get answers every setting and the readings in one bundle, /kestrano/get/<key> one.
class RemoteControl {
  public:
    // What the program reads now, for /kestrano/get.
    struct Readings {
        // dBFS; nothing without an input.
        std::optional<float> inputLevel;
        std::optional<float> lastValueSent;
    };
    struct Hooks {
        std::function<Readings()> readings;
        // Saves the settings; nothing when that worked, otherwise why not.
        std::function<std::optional<std::string>()> save;
        std::function<void(const QVOSCPacket& packet, const NetworkEndpoint& destination)> reply;
    };

    RemoteControl(SettingsModel& settings, Hooks hooks);

    // Whether the settings turn remote control on.
    bool on() const;
    // Whether the datagram is addressed to remote control.
    static bool isCommand(const QVOSCData& data);
    void obey(const QVOSCData& data, const NetworkEndpoint& source);

  private:
    void answerGet(const std::string& what, const NetworkEndpoint& source);

    SettingsModel& settings_;
    Hooks hooks_;
};
