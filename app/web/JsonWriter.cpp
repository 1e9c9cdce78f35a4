#include "app/web/JsonWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

void JsonWriter::next() {
    if (follows_) {
        text_.append(',');
    }
    follows_ = false;
}

JsonWriter& JsonWriter::beginObject() {
    next();
    text_.append('{');
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    text_.append('}');
    follows_ = true;
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    next();
    text_.append('[');
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    text_.append(']');
    follows_ = true;
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    text(name);
    text_.append(':');
    follows_ = false;
    return *this;
}

JsonWriter& JsonWriter::text(std::string_view value) {
    next();
    constexpr std::string_view hex = "0123456789abcdef";
    text_.append('"');
    for (const char character : value) {
        const auto byte = static_cast<unsigned char>(character);
        if (character == '"' || character == '\\') {
            text_.append('\\').append(character);
        } else if (byte < 0x20) {
            text_.append("\\u00").append(hex[byte >> 4]).append(hex[byte & 0xf]);
        } else {
            text_.append(character);
        }
    }
    text_.append('"');
    follows_ = true;
    return *this;
}

JsonWriter& JsonWriter::number(double value, int decimals) {
    if (!std::isfinite(value)) {
        return null();
    }
    next();
    constexpr std::array scales{1.0, 10.0, 100.0, 1000.0, 10000.0};
    const double scale = scales.at(static_cast<size_t>(std::clamp(decimals, 0, 4)));
    std::array<char, 32> digits{};
    const auto written =
        std::to_chars(digits.begin(), digits.end(), std::round(value * scale) / scale);
    text_.append(digits.data(), written.ptr - digits.data());
    follows_ = true;
    return *this;
}

JsonWriter& JsonWriter::number(const std::optional<double>& value, int decimals) {
    return value ? number(*value, decimals) : null();
}

JsonWriter& JsonWriter::flag(bool value) {
    next();
    text_.append(value ? "true" : "false");
    follows_ = true;
    return *this;
}

JsonWriter& JsonWriter::null() {
    next();
    text_.append("null");
    follows_ = true;
    return *this;
}
