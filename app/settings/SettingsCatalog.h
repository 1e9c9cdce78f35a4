#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "app/settings/PreferencesStore.h"

// What a setting holds, which decides how its text is read and how it is stored.
enum class SettingKind {
    port,          // whole number 1 to 65535
    decimal,       // finite decimal number, within the row's range
    wholeNumber,   // whole number, within the row's range
    flag,          // true / false (also 1 / 0, yes / no, on / off)
    mode,          // continuous / trigger (also 0 / 1)
    addressName,   // the part of an OSC address after /zandorex/
    host,          // host name, IPv4 or IPv6 address
    localAddress,  // numeric IPv4 or IPv6 address
    text,          // any text
};

using SettingValue = std::variant<int64_t, float, bool, std::string>;

// One stored setting. The range applies to decimals and whole numbers; an excluded bound is
// itself refused.
struct SettingDefinition {
    std::string_view key;
    SettingKind kind;
    std::string_view expected;  // what a valid value looks like, in words, for --help and errors
    std::optional<double> lowest = std::nullopt;
    bool lowestExcluded = false;
    std::optional<double> highest = std::nullopt;
};

// Every setting the program stores, in the order --help lists them.
std::span<const SettingDefinition> settingsCatalog();
const SettingDefinition* findSetting(std::string_view key);
// "zandorexSendPort, zandorexListenPort, ..."
std::string settingNames();

// The value `text` gives the setting, or nothing with `error` saying what is wrong.
std::optional<SettingValue> parseSettingValue(const SettingDefinition& setting,
                                              std::string_view text, std::string& error);
// What is wrong with a value of the right alternative for the setting; nothing when it is fine.
std::optional<std::string> settingValueProblem(const SettingDefinition& setting,
                                               const SettingValue& value);
// What is wrong with storing the (acceptable) value next to the settings `store` holds, such as
// an off threshold above the on threshold; nothing when it fits.
std::optional<std::string> settingConflict(const PreferencesStore& store,
                                           const SettingDefinition& setting,
                                           const SettingValue& value);
// Writes the value the way the program reads it back.
void storeSettingValue(PreferencesStore& store, const SettingDefinition& setting,
                       const SettingValue& value);
