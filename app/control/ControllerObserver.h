#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tempo/TempoStatus.h"

// The controller's properties a view shows and edits beside the settings.
enum class ControllerProperty {
    audioDevices,
    selectedAudioDevice,
    previewVolume,
};

// One mapping as every view reads it (the window, the headless status and log, remote control,
// the browser page): as the last tick left it, with a fast turn taken in as it is sent.
struct MappingStatus {
    // Empty for the first mapping (the keys without a name).
    std::string name;
    // Where its values go, after /zandorex/.
    std::string address;
    // The mapping's meter value and its position from 0 to 1; nothing when that tick had no
    // audio channel for it.
    std::optional<float> meter;
    std::optional<float> position;
    // Trigger and silence: whether the gate that sends is on (for silence, whether silence was
    // found), that is what the peer last heard of it.
    bool on = false;
    std::optional<float> lastValueSent;
    // Whether it sends on every tick rather than on turns (trigger, silence).
    bool continuous = true;
    // Its channels' average power and sample peak in its band, dBFS, before the amplification;
    // nothing when that tick had no audio channel for it.
    std::optional<float> inputLevel{};
    std::optional<float> samplePeak{};
};

// What a technician needs to know while the program runs.
struct ControllerStatus {
    // The first mapping's figures below (meter, inputLevel, lastValueSent) are its mapping's,
    // under the names the status has always had.
    // The last tick's meter value; nothing when that tick had no audio channel.
    std::optional<float> meter;
    // The last tick's average power of the input in dBFS, before the amplification; nothing
    // when that tick had no audio channel.
    std::optional<float> inputLevel;
    // The highest sample peak of the last moment in dBFS, held for the eye; nothing without input.
    std::optional<float> samplePeak;
    // Whether a sample reached full scale (-0.1 dBFS) within the last two seconds.
    bool clipping = false;
    // What the capture says about the chosen channels and the band.
    std::vector<std::string> captureNotes;
    // By how many dB the loudest channel beats the level in use, when by so much that the
    // channels most likely need choosing (inputChannels); nothing otherwise.
    std::optional<float> louderChannelBy;
    // The value of the last message handed to the sender or the open connection.
    std::optional<float> lastValueSent;
    // How many messages have been handed to the sender or the open connection since start-up.
    uint64_t messagesSent = 0;
    // Incoming datagrams dropped in a flood by the current listener, shown while drops go on
    // and a few seconds after; 0 otherwise.
    uint64_t droppedIncomingDatagrams = 0;
    // Counted since start-up, read once a second: answers left out by the reply budget,
    // commands from sources remoteControlFrom does not allow, messages and answers the system had
    // no room for, and failed receives (the listener opens its socket again after each).
    uint64_t repliesDropped = 0;
    uint64_t commandsRefused = 0;
    uint64_t sendsDropped = 0;
    uint64_t receiveErrors = 0;
    std::string lastReceiveError;
    // Who may send commands, where that is not plainly the listed sources ("remote control: any
    // source may command ..."); empty otherwise.
    std::string remoteAccess;
    // The preset the set-up came from (empty for none), and whether the set-up was changed since.
    std::string preset;
    bool presetChanged = false;
    // Counts the changes of the list of presets on disk, for views that show the list.
    uint64_t presetListChanges = 0;
    // The TCP connection to Zandorex in words ("connected to 10.0.0.5:5000"); empty over UDP.
    std::string connection;
    // Whether that connection is down, so that no value goes out (the newest trigger turn waits
    // for it); false over UDP.
    bool connectionDown = false;
    // Failures in words; empty when all is well.
    std::string senderError;
    std::string listenerError;
    // Why there is no input: the device that cannot be opened, or the one waited for.
    std::string deviceError;
    // The tempo and the beat; nothing while tempo is off.
    std::optional<TempoStatus> tempo;
    // Said once a tap came in detect mode, until the mode changes.
    std::string tempoNote;
    // Every mapping, the first one (no name) first, then in the order of the mappings setting.
    std::vector<MappingStatus> mappings;
    // Mappings that send to one address, in words ("kick and hat send to /zandorex/drums"):
    // allowed, and said, so that a slip shows.
    std::vector<std::string> sharedAddresses;
    // What was wrong with the stored settings at start-up, until the next Save.
    std::vector<std::string> settingsNotices;
    // Where the browser page is served, or why it cannot be; empty while webPort is absent.
    std::string pageNote;
};

// The reading of the mapping named `name` (empty: the first), or nothing when it is not listed.
inline const MappingStatus* mappingStatus(const ControllerStatus& status, std::string_view name) {
    for (const MappingStatus& mapping : status.mappings) {
        if (mapping.name == name) {
            return &mapping;
        }
    }
    return nullptr;
}

// Told by the controller, on the main thread, whenever a property or the status changes.
class ControllerObserver {
  public:
    virtual ~ControllerObserver() = default;
    virtual void controllerPropertyChanged(ControllerProperty property) = 0;
    // A setting changed, or was read at start-up; its value is in the controller's settings().
    virtual void controllerSettingChanged(std::string_view key) = 0;
    virtual void controllerStatusChanged(const ControllerStatus& status) = 0;
};
