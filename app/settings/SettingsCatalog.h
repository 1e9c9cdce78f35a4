#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

// What a setting holds, which decides how its text is read and how it is stored.
enum class SettingKind {
    port,          // whole number 1 to 65535
    decimal,       // finite decimal number, within the row's range
    wholeNumber,   // whole number, within the row's range
    flag,          // true / false (also 1 / 0, yes / no, on / off)
    mode,          // continuous / trigger / silence (also 0 / 1 / 2)
    addressName,   // the part of an OSC address after /zandorex/
    host,          // host name, IPv4 or IPv6 address
    localAddress,  // numeric IPv4 or IPv6 address
    sourceList,    // IPv4 and IPv6 addresses and prefixes, separated by commas
    choice,        // one of the row's words
    channelList,   // channel numbers from 1, as a list (1,2) or a range (3-4)
    text,          // any text
    mappingList,   // names of mappings, separated by commas
};

// The numbers a mode is stored as. Files written before silence existed hold 0 or 1 only; the
// file's reader takes any other number as trigger, as it always did.
inline constexpr int64_t continuousMode = 0;
inline constexpr int64_t triggerMode = 1;
inline constexpr int64_t silenceMode = 2;

// Whose a setting is: the instance's (where it sends and listens, the input, who may command)
// or each mapping's (what shapes and addresses one value). The keys without a mapping's name are
// the first mapping's; every further mapping has the same keys as NAME/KEY.
enum class SettingScope { instance, mapping };

using SettingValue = std::variant<int64_t, float, bool, std::string>;

// How a kind's value is held and stored: which alternative of SettingValue it takes.
enum class SettingStorage { whole, decimal, flag, text };
SettingStorage storageOf(SettingKind kind);

// When a change reaches the settings file: where the program sends and listens, and the input,
// at once; what shapes the value only when the technician saves.
enum class Persistence { atOnce, onSave };

// One setting, the single description every path (the file, --set, remote control, --help and
// the window) reads.
struct SettingDefinition {
    std::string_view key;
    SettingKind kind;
    SettingScope scope = SettingScope::instance;
    // What the setting does, in a phrase of Markdown, for the settings reference.
    std::string_view meaning = "";
    std::string_view expected;  // what a valid value looks like, in words, for --help and errors
    // The value an absent key stands for, as text; nothing when absence is a meaning of its own
    // (the local host, every interface, the default input, the on threshold).
    std::optional<std::string_view> absent = std::nullopt;
    // What absence means, in Markdown, for the settings reference, where the value `absent` (or
    // `absentShown`) alone would not say it ("every IPv4 interface", "0: no filter").
    std::string_view absenceMeans = "";
    // A stored plain "0" reads as absent (the long-standing rule for the ports, the
    // amplification, the maximum and the thresholds); a 0 that was set is stored in another form
    // that reads back as 0.
    bool zeroIsAbsent = false;
    Persistence persistence = Persistence::onSave;
    // Whether a /kestrano/set request may change it: what a technician changes while the show
    // runs, not where the program sends and listens nor who may command it.
    bool remotelySettable = true;
    std::optional<double> lowest = std::nullopt;
    std::optional<double> highest = std::nullopt;
    // How an absent key is shown where a value must be given (remote replies).
    std::string_view absentShown = "";
    // A refused stored text is held as it is rather than read as absent, so that the part using
    // it fails closed (no listener) instead of taking what absence stands for (every interface).
    bool failsClosed = false;
    // For a choice: the words it takes, separated by '|'.
    std::string_view choices = "";
    // A 0 set while the program runs also stands for absence (the thresholds' "0: the default");
    // otherwise only a stored 0 does, and a 0 set is used as it is (an amplification of 0).
    bool zeroIsAbsentInUse = false;
    // An instance's key that belongs to a set-up, which a preset holds and a switch changes (the
    // list of mappings, the tempo), not to the machine (ports, host, listener, input, who may
    // command). Every mapping's key belongs to a set-up.
    bool ofSetUp = false;
};

// Whether a preset holds the key: every mapping's, and the instance's of a set-up.
inline bool inSetUp(const SettingDefinition& setting) {
    return setting.scope == SettingScope::mapping || setting.ofSetUp;
}

// Every setting the program stores, in the order --help lists them.
std::span<const SettingDefinition> settingsCatalog();
const SettingDefinition* findSetting(std::string_view key);
// "zandorexSendPort, zandorexListenPort, ..."
std::string settingNames();
// "active, type, ...": the keys each mapping has.
std::string mappingSettingNames();

// A key as every path writes it: "bandHighCut" for the first mapping or the instance,
// "kick/bandHighCut" for the mapping named kick.
std::string scopedKey(std::string_view mapping, std::string_view key);
struct ScopedKey {
    std::string_view mapping;  // empty for the instance or the first mapping
    const SettingDefinition* setting;
};
// The parts of a scoped key; nothing when it names no catalogue row, or names one of the
// instance's after a mapping's name. Whether the mapping exists is the model's to say.
std::optional<ScopedKey> parseScopedKey(std::string_view key);

// Where a text comes from: the settings file reads the mode as the program always stored it (any
// whole number, all but 0 meaning trigger), every other path checks it strictly.
enum class TextSource { typed, settingsFile };

// The value `text` gives the setting, or nothing with `error` saying what is wrong. Here and
// below, the words name the keys of `mapping` as NAME/KEY (the first mapping's plainly), as the
// technician writes them.
std::optional<SettingValue> parseSettingValue(const SettingDefinition& setting,
                                              std::string_view text, std::string& error,
                                              TextSource source = TextSource::typed,
                                              std::string_view mapping = {});
// What is wrong with a value of the right alternative for the setting; nothing when it is fine.
std::optional<std::string> settingValueProblem(const SettingDefinition& setting,
                                               const SettingValue& value,
                                               std::string_view mapping = {});
// The value as --set takes it back ("2.5", "true", "trigger", "stage").
std::string settingText(const SettingDefinition& setting, const SettingValue& value);

// Whether `key` is the one of an ordered pair that a settings file breaking the order loses.
bool dependsOnAnother(std::string_view key);

// What is wrong with giving `setting` the (acceptable) `value` next to the values in use, which
// `current` gives (nothing for an absent key), such as an off threshold above the on threshold;
// nothing when it fits. The same words in every path.
std::optional<std::string> settingConflict(
    const SettingDefinition& setting, const SettingValue& value,
    const std::function<std::optional<SettingValue>(std::string_view key)>& current,
    std::string_view mapping = {});
