#include "app/remote/RemoteRequest.h"

#include <cmath>

#include "osc/QVOSCDecoder.h"

namespace {

std::string typeName(char type) {
    switch (type) {
        case 'i':
            return "an int (i)";
        case 'f':
            return "a float (f)";
        case 's':
            return "a string (s)";
        case 'T':
        case 'F':
            return std::string("a boolean (") + type + ")";
        default:
            return std::string("type '") + type + "'";
    }
}

std::string wrongType(const SettingDefinition& setting, char type, std::string_view mapping) {
    return "wrong argument type for " + scopedKey(mapping, setting.key) + ": " + typeName(type) +
           "; expected " + std::string(setting.expected);
}

// The value before the catalog's own check, or nothing for a type the kind does not take.
std::optional<SettingValue> converted(const SettingDefinition& setting,
                                      const RemoteArgument& argument, std::string& error,
                                      std::string_view mapping) {
    const bool isNumber = argument.type == 'i' || argument.type == 'f';
    const double number = argument.type == 'i' ? argument.integer : argument.decimal;
    if (argument.type == 'f' && !std::isfinite(argument.decimal)) {
        error = "bad value for " + scopedKey(mapping, setting.key) + ": NaN or infinity";
        return std::nullopt;
    }
    if (argument.type == 's') {
        return parseSettingValue(setting, argument.text, error, TextSource::typed, mapping);
    }
    switch (setting.kind) {
        case SettingKind::decimal:
            if (isNumber) {
                return static_cast<float>(number);
            }
            break;
        case SettingKind::flag:
            if (argument.type == 'T' || argument.type == 'F') {
                return argument.type == 'T';
            }
            if (isNumber && (number == 0.0 || number == 1.0)) {
                return number == 1.0;
            }
            if (isNumber) {
                error = "bad value for " + scopedKey(mapping, setting.key) +
                        ": expected 0 or 1, T or F";
                return std::nullopt;
            }
            break;
        case SettingKind::port:
        case SettingKind::wholeNumber:
        case SettingKind::mode:
            if (isNumber && number == std::trunc(number) && std::abs(number) < 1.0e9) {
                return static_cast<int64_t>(number);
            }
            if (isNumber) {
                error = "bad value for " + scopedKey(mapping, setting.key) +
                        ": expected a whole number";
                return std::nullopt;
            }
            break;
        default:
            break;
    }
    error = wrongType(setting, argument.type, mapping);
    return std::nullopt;
}

}  // namespace

std::optional<RemoteRequest> readRemoteRequest(QVOSCBytes data) {
    int32_t next = 0;
    std::optional<std::string> address = QVOSCDecoder::stringFromData(data, 0, next);
    std::optional<std::string> tags;
    if (address) {
        tags = QVOSCDecoder::stringFromData(data, next, next);
    }
    if (!tags || tags->empty() || tags->front() != ',') {
        return std::nullopt;
    }
    RemoteRequest request{*address, {}};
    for (size_t index = 1; index < tags->size(); ++index) {
        RemoteArgument argument;
        argument.type = (*tags)[index];
        bool read = true;
        switch (argument.type) {
            case 'i': {
                const auto value = QVOSCDecoder::intFromData(data, next, next);
                read = value.has_value();
                argument.integer = value.value_or(0);
                break;
            }
            case 'f': {
                const auto value = QVOSCDecoder::floatFromData(data, next, next);
                read = value.has_value();
                argument.decimal = value.value_or(0.0f);
                break;
            }
            case 's': {
                auto value = QVOSCDecoder::stringFromData(data, next, next);
                read = value.has_value();
                argument.text = std::move(value).value_or(std::string());
                break;
            }
            case 'T':
            case 'F':
            case 'N':
            case 'I':
                break;  // no bytes
            default:
                // A value of unknown length: nothing after it can be read.
                request.arguments.push_back(argument);
                return request;
        }
        if (!read) {
            return std::nullopt;
        }
        request.arguments.push_back(std::move(argument));
    }
    return request;
}

std::optional<SettingValue> remoteSettingValue(const SettingDefinition& setting,
                                               const RemoteArgument& argument, std::string& error,
                                               std::string_view mapping) {
    std::optional<SettingValue> value = converted(setting, argument, error, mapping);
    if (!value) {
        return std::nullopt;
    }
    if (auto problem = settingValueProblem(setting, *value, mapping)) {
        error = std::move(*problem);
        return std::nullopt;
    }
    return value;
}
