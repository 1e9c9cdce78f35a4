#include "app/settings/SettingsCatalog.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "app/settings/SettingsKeys.h"
#include "app/settings/store/PreferencesStore.h"
#include "app/settings/values/DisplayText.h"
#include "app/settings/values/HostText.h"
#include "app/settings/values/InputChannels.h"
#include "app/settings/values/MappingNames.h"
#include "app/settings/values/OscAddressName.h"
#include "app/settings/values/SourceList.h"

namespace {

namespace keys = settings_keys;

constexpr std::string_view portText = "a port number from 1 to 65535";
constexpr std::string_view milliseconds = "milliseconds from 0 to 60000";
// The amplification, the minimum and the maximum are bounded so that no step of the tick can
// overflow a float: the level of float samples is below 1e20, times 20 and 1000 is below 1e25,
// and a position that large times a value of 1e6 stays far below 3.4e38.
constexpr double largestAmplification = 1000.0;
constexpr double largestValue = 1.0e6;

constexpr std::string_view flagText = "true or false (also yes / no, on / off, 1 / 0)";
constexpr auto mapping = SettingScope::mapping;

constexpr SettingDefinition catalog[] = {
    {.key = keys::zandorexSendPort,
     .kind = SettingKind::port,
     .meaning = "port Zandorex listens on (UDP, or TCP with `zandorexProtocol`)",
     .expected = portText,
     .absent = "5000",
     .zeroIsAbsent = true,
     .persistence = Persistence::atOnce,
     .remotelySettable = false},
    {.key = keys::zandorexListenPort,
     .kind = SettingKind::port,
     .meaning = "UDP port Kestrano listens on",
     .expected = portText,
     .absent = "5001",
     .zeroIsAbsent = true,
     .persistence = Persistence::atOnce,
     .remotelySettable = false},
    {.key = keys::volumeAmplification,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning = "gain applied to the level before mapping",
     .expected = "a decimal number from -1000 to 1000",
     .absent = "1",
     .zeroIsAbsent = true,
     .lowest = -largestAmplification,
     .highest = largestAmplification},
    {.key = keys::active,
     .kind = SettingKind::flag,
     .scope = mapping,
     .meaning = "send messages at all",
     .expected = flagText,
     .absent = "true"},
    {.key = keys::type,
     .kind = SettingKind::mode,
     .scope = mapping,
     .meaning = "mapping mode",
     .expected = "continuous, trigger or silence (or 0, 1, 2)",
     .absent = "continuous"},
    {.key = keys::address,
     .kind = SettingKind::addressName,
     .scope = mapping,
     .meaning = "the name after `/zandorex/` in the messages sent",
     .expected = "printable ASCII without spaces or any of # * , ? [ ] { }, not starting or ending "
                 "with / nor holding //",
     .absent = "",
     .absenceMeans = "the mapping's name: the first mapping's messages go to `/zandorex/`, a "
                     "further mapping's to `/zandorex/NAME`"},
    {.key = keys::minValue,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning = "value sent at silence (continuous) or when the trigger falls",
     .expected = "a decimal number from -1000000 to 1000000",
     .absent = "0",
     .lowest = -largestValue,
     .highest = largestValue},
    {.key = keys::maxValue,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning = "value sent at full position (continuous) or when the trigger rises",
     .expected = "a decimal number from -1000000 to 1000000 (0: 10)",
     .absent = "10",
     .zeroIsAbsent = true,
     .lowest = -largestValue,
     .highest = largestValue},
    {.key = keys::zandorexHost,
     .kind = SettingKind::host,
     .meaning = "where to send",
     .expected = "a host name, IPv4 or IPv6 address (absent: 127.0.0.1)",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .absentShown = "127.0.0.1"},
    {.key = keys::zandorexProtocol,
     .kind = SettingKind::choice,
     .meaning =
         "how the messages travel: a UDP datagram each, or one TCP connection in either framing",
     .expected = "udp, tcp (OSC 1.1, SLIP framing) or tcp-length (OSC 1.0, size-prefixed)",
     .absent = "udp",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .choices = "udp|tcp|tcp-length"},
    {.key = keys::listenAddress,
     .kind = SettingKind::localAddress,
     .meaning = "local address the listener binds",
     .expected = "an IPv4 or IPv6 address of this machine (absent: every IPv4 address)",
     .absenceMeans = "every IPv4 interface",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .absentShown = "0.0.0.0",
     .failsClosed = true},
    {.key = keys::remoteControl,
     .kind = SettingKind::flag,
     .meaning = "act on remote-control messages",
     .expected = "true or false (also yes / no, on / off, 1 / 0); obey /kestrano/... commands",
     .absent = "false",
     .persistence = Persistence::atOnce,
     .remotelySettable = false},
    {.key = keys::remoteControlFrom,
     .kind = SettingKind::sourceList,
     .meaning = "the only sources remote control obeys: up to 64 addresses and prefixes",
     .expected = "IPv4 and IPv6 addresses or prefixes (a length of 0 to 32 for IPv4, 0 to 128 for "
                 "IPv6), e.g. 192.168.1.20,10.0.0.0/24,::1, allowed to send commands (absent or "
                 "empty: any source)",
     .absenceMeans = "any source (absent or empty alike)",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .failsClosed = true},
    // The browser page is off until a port is given, and local until an address opens it to the
    // network: the page shows the show's state to whoever reaches it.
    {.key = keys::webPort,
     .kind = SettingKind::port,
     .meaning = "the TCP port the browser page is served on",
     .expected = "a port number from 1 to 65535 to serve the browser page on (absent: no page)",
     .absenceMeans = "no page",
     .zeroIsAbsent = true,
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .absentShown = "0"},
    {.key = keys::webAddress,
     .kind = SettingKind::localAddress,
     .meaning = "the address of this machine the browser page is served on",
     .expected = "an IPv4 or IPv6 address of this machine to serve the browser page on (absent: "
                 "127.0.0.1, this machine only)",
     .absenceMeans = "127.0.0.1: only this machine reaches the page",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .absentShown = "127.0.0.1",
     .failsClosed = true},
    {.key = keys::triggerOnThreshold,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning =
         "trigger: position at or above which the trigger turns on (silence: below which the "
         "silence begins)",
     .expected = "a position from 0 to 1 (0: 0.5)",
     .absent = "0.5",
     .zeroIsAbsent = true,
     .lowest = 0.0,
     .highest = 1.0,
     .zeroIsAbsentInUse = true},
    {.key = keys::triggerOffThreshold,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning =
         "trigger: position below which it turns off again; at most the on threshold (silence: at "
         "or above which the silence ends; at least the on threshold)",
     .expected = "a position from 0 to 1, at most the on threshold, for silence at least it (0: "
                 "the on threshold)",
     .absenceMeans = "the on threshold",
     .zeroIsAbsent = true,
     .lowest = 0.0,
     .highest = 1.0,
     .zeroIsAbsentInUse = true},
    {.key = keys::triggerResponse,
     .kind = SettingKind::choice,
     .scope = mapping,
     .meaning =
         "trigger: what the gate looks at, the level of each 50 ms tick or of every 5 ms of sound",
     .expected =
         "tick (the level of each 50 ms tick) or fast (in trigger mode, of every 5 ms of sound)",
     .absent = "tick",
     .choices = "tick|fast"},
    {.key = keys::triggerOnDelay,
     .kind = SettingKind::wholeNumber,
     .scope = mapping,
     .meaning = "trigger: how long the position must stay at or above the on threshold first",
     .expected = milliseconds,
     .absent = "0",
     .lowest = 0.0,
     .highest = 60000.0},
    {.key = keys::triggerOffDelay,
     .kind = SettingKind::wholeNumber,
     .scope = mapping,
     .meaning = "trigger: how long the position must stay below the off threshold first",
     .expected = milliseconds,
     .absent = "0",
     .lowest = 0.0,
     .highest = 60000.0},
    {.key = keys::attackTime,
     .kind = SettingKind::wholeNumber,
     .scope = mapping,
     .meaning = "continuous: smoothing of a rising position (time constant)",
     .expected = milliseconds,
     .absent = "0",
     .absenceMeans = "0: no smoothing",
     .lowest = 0.0,
     .highest = 60000.0},
    {.key = keys::releaseTime,
     .kind = SettingKind::wholeNumber,
     .scope = mapping,
     .meaning = "continuous: smoothing of a falling position (time constant)",
     .expected = milliseconds,
     .absent = "0",
     .absenceMeans = "0: no smoothing",
     .lowest = 0.0,
     .highest = 60000.0},
    {.key = keys::bandLowCut,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning = "meter only what lies above this frequency (second-order Butterworth high-pass)",
     .expected = "Hz from 0 to 20000, below the high cut (0: no high-pass)",
     .absent = "0",
     .absenceMeans = "0: no filter",
     .lowest = 0.0,
     .highest = 20000.0},
    {.key = keys::bandHighCut,
     .kind = SettingKind::decimal,
     .scope = mapping,
     .meaning = "meter only what lies below this frequency (second-order Butterworth low-pass)",
     .expected = "Hz from 0 to 20000, above the low cut (0: no low-pass)",
     .absent = "0",
     .absenceMeans = "0: no filter",
     .lowest = 0.0,
     .highest = 20000.0},
    {.key = keys::inputDevice,
     .kind = SettingKind::text,
     .meaning = "the input, by the name `kestrano --list-devices` prints, or `file:` and the "
                "path of a recording played in a loop as the input; empty for *No input*",
     .expected = "a source name from --list-devices; file:PATH: a recording; empty: no input; "
                 "@DEFAULT_SOURCE@: the default",
     .absenceMeans = "the sound server's default input, followed when it changes",
     .persistence = Persistence::atOnce,
     .absentShown = "@DEFAULT_SOURCE@"},
    {.key = keys::inputChannels,
     .kind = SettingKind::channelList,
     .scope = mapping,
     .meaning = "the input's channels to meter, counted from 1, up to 32",
     .expected = "channels of the input to meter, from 1: 1, 2, 1,2 or 3-4 (absent: every channel)",
     .absenceMeans = "every channel of the input",
     .persistence = Persistence::atOnce},
    // What the program sends is stored at once, like where it sends. Not remotely settable: a
    // peer that could add and remove mappings could make the program send to addresses the
    // show was never built for, which is the technician's decision, as the ports are.
    {.key = keys::mappings,
     .kind = SettingKind::mappingList,
     .meaning = "the names of further mappings of the same input",
     .expected = "names of further mappings, separated by commas: each 1 to 32 letters, digits, - "
                 "or _, unique, no setting's name nor General, at most 16 (absent: none)",
     .absenceMeans = "none: one mapping",
     .persistence = Persistence::atOnce,
     .remotelySettable = false,
     .ofSetUp = true},
    // The tempo is switched while the show runs, like a mapping's shaping.
    {.key = keys::tempo,
     .kind = SettingKind::choice,
     .meaning = "the tempo and a message on every beat",
     .expected = "off, detect (follow the beat of the input) or tap (the tempo tapped with T, the "
                 "Tap button or /kestrano/tap)",
     .absent = "off",
     .choices = "off|detect|tap",
     .ofSetUp = true},
    {.key = keys::tempoAddress,
     .kind = SettingKind::addressName,
     .meaning = "the name after `/zandorex/` of the tempo message; not empty",
     .expected =
         "the address after /zandorex/ of the tempo message (,f BPM): printable ASCII "
         "without spaces or any of # * , ? [ ] { }, not starting or ending with / nor holding //",
     .absent = "tempo",
     .ofSetUp = true},
    {.key = keys::beatAddress,
     .kind = SettingKind::addressName,
     .meaning = "the name after `/zandorex/` of the beat message; not empty",
     .expected =
         "the address after /zandorex/ of the beat message (,i 1 to 4): printable ASCII "
         "without spaces or any of # * , ? [ ] { }, not starting or ending with / nor holding //",
     .absent = "beat",
     .ofSetUp = true},
    {.key = keys::tempoMinimum,
     .kind = SettingKind::decimal,
     .meaning = "detected tempi read within [minimum, 2 × minimum)",
     .expected = "BPM from 40 to 200: detected tempi read within it and twice it (75 reads a 174 "
                 "BPM loop as 87)",
     .absent = "75",
     .lowest = 40.0,
     .highest = 200.0,
     .ofSetUp = true},
    {.key = keys::tempoChannels,
     .kind = SettingKind::channelList,
     .meaning = "the channels the beat is followed on, written as `inputChannels`",
     .expected = "channels of the input to follow the beat of, from 1: 1, 2, 1,2 or 3-4 (absent: "
                 "the first mapping's inputChannels)",
     .absenceMeans = "the first mapping's `inputChannels`",
     .persistence = Persistence::atOnce,
     .ofSetUp = true},
    // Which preset the set-up came from, written with it in one step, so that a restart names it
    // too. A preset is loaded by name (--preset, /kestrano/preset), never by setting this key.
    {.key = keys::preset,
     .kind = SettingKind::text,
     .meaning = "the preset the set-up was last taken from or saved as",
     .expected = "the name of a preset (absent: none)",
     .absenceMeans = "none",
     .persistence = Persistence::atOnce,
     .remotelySettable = false},
};

// Pairs of keys whose values must stay in order while both are set (absent and 0 are not).
struct OrderRule {
    std::string_view lower;
    std::string_view upper;
    bool strict;
    // Which of the two a settings file that breaks the rule loses.
    std::string_view dependent;
};

// An off threshold above the on threshold would turn the trigger off while it is still on.
constexpr OrderRule triggerThresholds = {keys::triggerOffThreshold, keys::triggerOnThreshold, false,
                                         keys::triggerOffThreshold};
// Silence is the other way round: it begins below the on threshold and ends at or above the off
// threshold, which an off threshold below the on one would end while it is still silent.
constexpr OrderRule silenceThresholds = {keys::triggerOnThreshold, keys::triggerOffThreshold, false,
                                         keys::triggerOffThreshold};
// A low cut at or above the high cut meters almost nothing; without the low-pass the band is at
// least a high-pass.
constexpr OrderRule bandCuts = {keys::bandLowCut, keys::bandHighCut, true, keys::bandHighCut};

// The rules of a mapping of the mode `mode`.
std::array<OrderRule, 2> orderRulesFor(const std::optional<SettingValue>& mode) {
    const bool silence =
        mode && std::get_if<int64_t>(&*mode) != nullptr && std::get<int64_t>(*mode) == silenceMode;
    return {silence ? silenceThresholds : triggerThresholds, bandCuts};
}

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseFlag(std::string_view text) {
    for (std::string_view yes : {"true", "1", "yes", "on"}) {
        if (text == yes) {
            return true;
        }
    }
    for (std::string_view no : {"false", "0", "no", "off"}) {
        if (text == no) {
            return false;
        }
    }
    return std::nullopt;
}

std::optional<int64_t> parseMode(std::string_view text, TextSource source) {
    if (text == "continuous" || text == "0") {
        return 0;
    }
    if (text == "trigger" || text == "1") {
        return 1;
    }
    if (text == "silence" || text == "2") {
        return silenceMode;
    }
    // The program has always read the stored mode as a number, any but 0 meaning trigger.
    if (source == TextSource::settingsFile) {
        const std::optional<int64_t> number = parseNumber<int64_t>(text);
        if (number && *number == static_cast<int32_t>(*number)) {
            return number;
        }
    }
    return std::nullopt;
}

std::optional<SettingValue> readText(SettingKind kind, std::string_view text, TextSource source) {
    if (kind == SettingKind::mode) {
        return parseMode(text, source);
    }
    switch (storageOf(kind)) {
        case SettingStorage::whole:
            return parseNumber<int64_t>(text);
        case SettingStorage::decimal:
            return parseNumber<float>(text);
        case SettingStorage::flag:
            return parseFlag(text);
        case SettingStorage::text:
            return std::string(text);
    }
    return std::nullopt;
}

bool holdsKindsAlternative(SettingKind kind, const SettingValue& value) {
    switch (storageOf(kind)) {
        case SettingStorage::whole:
            return std::holds_alternative<int64_t>(value);
        case SettingStorage::decimal:
            return std::holds_alternative<float>(value);
        case SettingStorage::flag:
            return std::holds_alternative<bool>(value);
        case SettingStorage::text:
            return std::holds_alternative<std::string>(value);
    }
    return false;
}

bool isChoice(const SettingDefinition& setting, std::string_view word) {
    std::string_view rest = setting.choices;
    while (!rest.empty()) {
        const size_t bar = rest.find('|');
        if (rest.substr(0, bar) == word) {
            return true;
        }
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    return false;
}

bool withinRange(const SettingDefinition& setting, double number) {
    return std::isfinite(number) && (!setting.lowest || number >= *setting.lowest) &&
           (!setting.highest || number <= *setting.highest);
}

bool acceptable(const SettingDefinition& setting, const SettingValue& value, TextSource source) {
    if (!holdsKindsAlternative(setting.kind, value)) {
        return false;
    }
    switch (setting.kind) {
        case SettingKind::port: {
            const int64_t port = std::get<int64_t>(value);
            return port >= 1 && port <= 65535;
        }
        case SettingKind::decimal:
            return withinRange(setting, std::get<float>(value));
        case SettingKind::wholeNumber:
            return withinRange(setting, static_cast<double>(std::get<int64_t>(value)));
        case SettingKind::mode: {
            const int64_t mode = std::get<int64_t>(value);
            return source == TextSource::settingsFile || mode == continuousMode ||
                   mode == triggerMode || mode == silenceMode;
        }
        case SettingKind::addressName:
            // Empty is a name only where absence means empty (the mapping's address, nothing
            // sent); elsewhere it would be a second way of saying absent.
            return isOscAddressName(std::get<std::string>(value)) &&
                   (!std::get<std::string>(value).empty() || setting.absent == "");
        case SettingKind::host:
            return isHostNameOrAddress(std::get<std::string>(value));
        case SettingKind::localAddress:
            return isNumericAddress(std::get<std::string>(value));
        case SettingKind::sourceList: {
            // An empty text is no list: absence (any source) is said by no text at all.
            std::string error;
            return parseSourceList(std::get<std::string>(value), error).has_value();
        }
        case SettingKind::choice:
            return isChoice(setting, std::get<std::string>(value));
        case SettingKind::channelList:
            // Empty would be every channel, which absence says.
            return !std::get<std::string>(value).empty() &&
                   parseInputChannels(std::get<std::string>(value)).has_value();
        case SettingKind::mappingList: {
            std::string error;
            return parseMappingNames(std::get<std::string>(value), error).has_value();
        }
        case SettingKind::flag:
        case SettingKind::text:
            return true;
    }
    return false;
}

std::string badValue(const SettingDefinition& setting, std::string_view text,
                     std::string_view mapping) {
    // Quoted short and printable: the text may have come from anywhere.
    std::string said =
        "bad value '" + quotedRequestText(text) + "' for " + scopedKey(mapping, setting.key) + ": ";
    // Which of a list's names is wrong, and how, since the list can be long.
    std::string why;
    if (setting.kind == SettingKind::mappingList && !parseMappingNames(text, why)) {
        said += why + "; ";
    }
    return said + "expected " + std::string(setting.expected);
}

// The number a value holds, for the order rules; nothing for an absent or 0 value.
std::optional<double> orderedNumber(const std::optional<SettingValue>& value) {
    if (!value) {
        return std::nullopt;
    }
    double number = 0.0;
    if (const float* decimal = std::get_if<float>(&*value)) {
        number = *decimal;
    } else if (const int64_t* whole = std::get_if<int64_t>(&*value)) {
        number = static_cast<double>(*whole);
    }
    return number != 0.0 ? std::optional(number) : std::nullopt;
}

std::string numberText(double number) {
    return shortestFloatText(static_cast<float>(number));
}

// A change of mode that would put the thresholds in use out of the new mode's order.
std::optional<std::string> modeConflict(
    const SettingDefinition& setting, const SettingValue& mode,
    const std::function<std::optional<SettingValue>(std::string_view key)>& current,
    std::string_view mapping) {
    const OrderRule rule = orderRulesFor(mode).front();
    const std::optional<double> lower = orderedNumber(current(rule.lower));
    const std::optional<double> upper = orderedNumber(current(rule.upper));
    if (!lower || !upper || *lower <= *upper) {
        return std::nullopt;
    }
    return "bad value '" + settingText(setting, mode) + "' for " + scopedKey(mapping, setting.key) +
           ": it needs " + scopedKey(mapping, rule.lower) + " (" + numberText(*lower) +
           ") not above " + scopedKey(mapping, rule.upper) + " (" + numberText(*upper) + ")";
}

}  // namespace

SettingStorage storageOf(SettingKind kind) {
    switch (kind) {
        case SettingKind::port:
        case SettingKind::wholeNumber:
        case SettingKind::mode:
            return SettingStorage::whole;
        case SettingKind::decimal:
            return SettingStorage::decimal;
        case SettingKind::flag:
            return SettingStorage::flag;
        case SettingKind::addressName:
        case SettingKind::host:
        case SettingKind::localAddress:
        case SettingKind::sourceList:
        case SettingKind::choice:
        case SettingKind::channelList:
        case SettingKind::text:
        case SettingKind::mappingList:
            break;
    }
    return SettingStorage::text;
}

std::span<const SettingDefinition> settingsCatalog() {
    return catalog;
}

const SettingDefinition* findSetting(std::string_view key) {
    for (const SettingDefinition& setting : catalog) {
        if (setting.key == key) {
            return &setting;
        }
    }
    return nullptr;
}

std::string settingNames() {
    std::string names;
    for (const SettingDefinition& setting : catalog) {
        names += (names.empty() ? "" : ", ") + std::string(setting.key);
    }
    return names;
}

std::string mappingSettingNames() {
    std::string names;
    for (const SettingDefinition& setting : catalog) {
        if (setting.scope == SettingScope::mapping) {
            names += (names.empty() ? "" : ", ") + std::string(setting.key);
        }
    }
    return names;
}

std::string scopedKey(std::string_view mapping, std::string_view key) {
    return mapping.empty() ? std::string(key) : std::string(mapping) + "/" + std::string(key);
}

std::optional<ScopedKey> parseScopedKey(std::string_view key) {
    const size_t slash = key.find('/');
    if (slash == std::string_view::npos) {
        const SettingDefinition* setting = findSetting(key);
        return setting != nullptr ? std::optional(ScopedKey{{}, setting}) : std::nullopt;
    }
    const SettingDefinition* setting = findSetting(key.substr(slash + 1));
    if (slash == 0 || setting == nullptr || setting->scope != SettingScope::mapping) {
        return std::nullopt;
    }
    return ScopedKey{key.substr(0, slash), setting};
}

std::optional<SettingValue> parseSettingValue(const SettingDefinition& setting,
                                              std::string_view text, std::string& error,
                                              TextSource source, std::string_view mapping) {
    std::optional<SettingValue> value = readText(setting.kind, text, source);
    if (!value || !acceptable(setting, *value, source)) {
        error = badValue(setting, text, mapping);
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> settingValueProblem(const SettingDefinition& setting,
                                               const SettingValue& value,
                                               std::string_view mapping) {
    if (acceptable(setting, value, TextSource::typed)) {
        return std::nullopt;
    }
    // The number as it came for a mode, since a refused one is no mode.
    const bool shownAsItCame =
        setting.kind == SettingKind::mode || !holdsKindsAlternative(setting.kind, value);
    const std::string text = !shownAsItCame ? settingText(setting, value)
                             : std::holds_alternative<int64_t>(value)
                                 ? std::to_string(std::get<int64_t>(value))
                                 : std::string("?");
    return badValue(setting, text, mapping);
}

std::string settingText(const SettingDefinition& setting, const SettingValue& value) {
    if (setting.kind == SettingKind::mode) {
        const int64_t mode = std::get<int64_t>(value);
        return mode == continuousMode ? "continuous" : mode == silenceMode ? "silence" : "trigger";
    }
    return std::visit(
        [](const auto& held) -> std::string {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::string>) {
                return held;
            } else if constexpr (std::is_same_v<Held, bool>) {
                return held ? "true" : "false";
            } else if constexpr (std::is_same_v<Held, float>) {
                return shortestFloatText(held);
            } else {
                return std::to_string(held);
            }
        },
        value);
}

bool dependsOnAnother(std::string_view key) {
    return key == triggerThresholds.dependent || key == bandCuts.dependent;
}

std::optional<std::string> settingConflict(
    const SettingDefinition& setting, const SettingValue& value,
    const std::function<std::optional<SettingValue>(std::string_view key)>& current,
    std::string_view mapping) {
    if (setting.key == keys::type) {
        return modeConflict(setting, value, current, mapping);
    }
    const std::optional<double> number = orderedNumber(value);
    for (const OrderRule& rule : orderRulesFor(current(keys::type))) {
        const bool isLower = setting.key == rule.lower;
        if (!number || (!isLower && setting.key != rule.upper)) {
            continue;
        }
        const std::string_view other = isLower ? rule.upper : rule.lower;
        const std::optional<double> otherNumber = orderedNumber(current(other));
        if (!otherNumber) {
            continue;
        }
        const double lower = isLower ? *number : *otherNumber;
        const double upper = isLower ? *otherNumber : *number;
        if (lower < upper || (!rule.strict && lower == upper)) {
            continue;
        }
        const std::string relation =
            isLower ? (rule.strict ? "it must be below " : "it must not exceed ")
                    : (rule.strict ? "it must be above " : "it must not be below ");
        return "bad value '" + settingText(setting, value) + "' for " +
               scopedKey(mapping, setting.key) + ": " + relation + scopedKey(mapping, other) +
               " (" + numberText(*otherNumber) + ")";
    }
    return std::nullopt;
}
