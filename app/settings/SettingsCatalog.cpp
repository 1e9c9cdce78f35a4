#include "app/settings/SettingsCatalog.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/settings/HostText.h"
#include "app/settings/OscAddressName.h"
#include "app/settings/SettingsKeys.h"

namespace {

namespace keys = settings_keys;

constexpr SettingDefinition catalog[] = {
    {keys::zandorexSendPort, SettingKind::port, "a port number from 1 to 65535"},
    {keys::zandorexListenPort, SettingKind::port, "a port number from 1 to 65535"},
    {keys::volumeAmplification, SettingKind::decimal, "a decimal number"},
    {keys::active, SettingKind::flag, "true or false"},
    {keys::type, SettingKind::mode, "continuous or trigger (or 0, 1)"},
    {keys::address, SettingKind::addressName,
     "printable ASCII without spaces or any of # * , ? [ ] { }"},
    {keys::minValue, SettingKind::decimal, "a decimal number"},
    {keys::maxValue, SettingKind::decimal, "a decimal number"},
    {keys::zandorexHost, SettingKind::host,
     "a host name, IPv4 or IPv6 address (absent: 127.0.0.1)"},
    {keys::listenAddress, SettingKind::localAddress,
     "an IPv4 or IPv6 address of this machine (absent: every IPv4 address)"},
    {keys::remoteControl, SettingKind::flag, "true or false"},
    {keys::triggerOnThreshold, SettingKind::decimal, "a position from 0 to 1 (0: 0.5)", 0.0, false,
     1.0},
    {keys::triggerOffThreshold, SettingKind::decimal,
     "a position from 0 to 1, at most the on threshold (0: the on threshold)", 0.0, false, 1.0},
    {keys::triggerOnDelay, SettingKind::wholeNumber, "milliseconds from 0 to 60000", 0.0, false,
     60000.0},
    {keys::triggerOffDelay, SettingKind::wholeNumber, "milliseconds from 0 to 60000", 0.0, false,
     60000.0},
    {keys::attackTime, SettingKind::wholeNumber, "milliseconds from 0 to 60000", 0.0, false,
     60000.0},
    {keys::releaseTime, SettingKind::wholeNumber, "milliseconds from 0 to 60000", 0.0, false,
     60000.0},
    {keys::bandLowCut, SettingKind::decimal, "Hz from 0 to 20000 (0: no high-pass)", 0.0, false,
     20000.0},
    {keys::bandHighCut, SettingKind::decimal, "Hz from 0 to 20000 (0: no low-pass)", 0.0, false,
     20000.0},
    {keys::inputDevice, SettingKind::text,
     "a source name from --list-devices; empty: no input; @DEFAULT_SOURCE@: the default"},
};

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

std::optional<int64_t> parseMode(std::string_view text) {
    if (text == "continuous" || text == "0") {
        return 0;
    }
    if (text == "trigger" || text == "1") {
        return 1;
    }
    return std::nullopt;
}

std::optional<SettingValue> readText(SettingKind kind, std::string_view text) {
    switch (kind) {
        case SettingKind::port:
        case SettingKind::wholeNumber:
            return parseNumber<int64_t>(text);
        case SettingKind::decimal:
            return parseNumber<float>(text);
        case SettingKind::flag:
            return parseFlag(text);
        case SettingKind::mode:
            return parseMode(text);
        case SettingKind::addressName:
        case SettingKind::host:
        case SettingKind::localAddress:
        case SettingKind::text:
            return std::string(text);
    }
    return std::nullopt;
}

bool holdsKindsAlternative(SettingKind kind, const SettingValue& value) {
    switch (kind) {
        case SettingKind::port:
        case SettingKind::wholeNumber:
        case SettingKind::mode:
            return std::holds_alternative<int64_t>(value);
        case SettingKind::decimal:
            return std::holds_alternative<float>(value);
        case SettingKind::flag:
            return std::holds_alternative<bool>(value);
        case SettingKind::addressName:
        case SettingKind::host:
        case SettingKind::localAddress:
        case SettingKind::text:
            return std::holds_alternative<std::string>(value);
    }
    return false;
}

bool withinRange(const SettingDefinition& setting, double number) {
    if (!std::isfinite(number)) {
        return false;
    }
    if (setting.lowest &&
        (number < *setting.lowest || (setting.lowestExcluded && number == *setting.lowest))) {
        return false;
    }
    return !setting.highest || number <= *setting.highest;
}

bool acceptable(const SettingDefinition& setting, const SettingValue& value) {
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
            return mode == 0 || mode == 1;
        }
        case SettingKind::addressName:
            return isOscAddressName(std::get<std::string>(value));
        case SettingKind::host:
            return isHostNameOrAddress(std::get<std::string>(value));
        case SettingKind::localAddress:
            return isNumericAddress(std::get<std::string>(value));
        case SettingKind::flag:
        case SettingKind::text:
            return true;
    }
    return false;
}

std::string shown(const SettingValue& value) {
    return std::visit(
        [](const auto& held) -> std::string {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::string>) {
                return held;
            } else if constexpr (std::is_same_v<Held, bool>) {
                return held ? "true" : "false";
            } else {
                return std::to_string(held);
            }
        },
        value);
}

std::string badValue(const SettingDefinition& setting, std::string_view text) {
    return "bad value '" + std::string(text) + "' for " + std::string(setting.key) + ": expected " +
           std::string(setting.expected);
}

}  // namespace

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

std::optional<SettingValue> parseSettingValue(const SettingDefinition& setting,
                                              std::string_view text, std::string& error) {
    std::optional<SettingValue> value = readText(setting.kind, text);
    if (!value || !acceptable(setting, *value)) {
        error = badValue(setting, text);
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> settingValueProblem(const SettingDefinition& setting,
                                               const SettingValue& value) {
    if (acceptable(setting, value)) {
        return std::nullopt;
    }
    return badValue(setting, shown(value));
}

std::optional<std::string> settingConflict(const PreferencesStore& store,
                                           const SettingDefinition& setting,
                                           const SettingValue& value) {
    constexpr float defaultThreshold = 0.5f;
    const auto threshold = [](float stored, float absent) {
        return stored > 0.0f ? stored : absent;
    };
    const auto number = [](float value) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return std::string(text);
    };
    if (setting.key == keys::triggerOffThreshold) {
        const float off = std::get<float>(value);
        const float on = threshold(store.floatForKey(keys::triggerOnThreshold), defaultThreshold);
        if (off > on) {
            return "bad value '" + number(off) +
                   "' for triggerOffThreshold: it must not exceed triggerOnThreshold (" +
                   number(on) + ")";
        }
    } else if (setting.key == keys::triggerOnThreshold) {
        const float on = threshold(std::get<float>(value), defaultThreshold);
        const float off = store.floatForKey(keys::triggerOffThreshold);
        if (off > on) {
            return "bad value '" + number(std::get<float>(value)) +
                   "' for triggerOnThreshold: it is below the stored triggerOffThreshold (" +
                   number(off) + "); lower that first";
        }
    }
    return std::nullopt;
}

void storeSettingValue(PreferencesStore& store, const SettingDefinition& setting,
                       const SettingValue& value) {
    switch (setting.kind) {
        case SettingKind::port:
        case SettingKind::wholeNumber:
        case SettingKind::mode:
            store.setInteger(setting.key, std::get<int64_t>(value));
            return;
        case SettingKind::decimal:
            store.setFloat(setting.key, std::get<float>(value));
            return;
        case SettingKind::flag:
            store.setBool(setting.key, std::get<bool>(value));
            return;
        case SettingKind::addressName:
        case SettingKind::host:
        case SettingKind::localAddress:
        case SettingKind::text:
            store.setString(setting.key, std::get<std::string>(value));
            return;
    }
}
