#include "app/settings/SettingsAssignment.h"

#include <charconv>
#include <cmath>

#include "app/settings/OscAddressName.h"
#include "app/settings/SettingsKeys.h"

namespace {

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseBool(std::string_view text) {
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

std::optional<int32_t> parseType(std::string_view text) {
    if (text == "continuous") {
        return 0;
    }
    if (text == "trigger") {
        return 1;
    }
    return parseNumber<int32_t>(text);
}

std::string badValue(std::string_view key, std::string_view value, std::string_view expected) {
    return "bad value '" + std::string(value) + "' for " + std::string(key) + ": expected " +
           std::string(expected);
}

}  // namespace

std::optional<std::string> applySettingAssignment(PreferencesStore& store,
                                                  std::string_view assignment) {
    namespace keys = settings_keys;
    const size_t equals = assignment.find('=');
    if (equals == std::string_view::npos) {
        return "expected KEY=VALUE, got '" + std::string(assignment) + "'";
    }
    const std::string_view key = assignment.substr(0, equals);
    const std::string_view value = assignment.substr(equals + 1);

    if (key == keys::zandorexSendPort || key == keys::zandorexListenPort) {
        const auto port = parseNumber<int32_t>(value);
        if (!port || *port < 1 || *port > 65535) {
            return badValue(key, value, "a port number from 1 to 65535");
        }
        store.setInteger(key, *port);
        return std::nullopt;
    }
    if (key == keys::volumeAmplification || key == keys::minValue || key == keys::maxValue) {
        const auto number = parseNumber<float>(value);
        if (!number || !std::isfinite(*number)) {
            return badValue(key, value, "a decimal number");
        }
        store.setFloat(key, *number);
        return std::nullopt;
    }
    if (key == keys::active) {
        const auto flag = parseBool(value);
        if (!flag) {
            return badValue(key, value, "true or false");
        }
        store.setBool(key, *flag);
        return std::nullopt;
    }
    if (key == keys::type) {
        const auto type = parseType(value);
        if (!type) {
            return badValue(key, value, "continuous, trigger or a whole number");
        }
        store.setInteger(key, *type);
        return std::nullopt;
    }
    if (key == keys::address) {
        if (!isOscAddressName(value)) {
            return badValue(key, value, "printable ASCII without spaces or any of # * , ? [ ] { }");
        }
        store.setString(key, std::string(value));
        return std::nullopt;
    }
    std::string known;
    for (const std::string_view name : keys::all) {
        known += (known.empty() ? "" : ", ") + std::string(name);
    }
    return "unknown setting '" + std::string(key) + "'; the settings are " + known;
}
