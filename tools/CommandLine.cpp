#include "tools/CommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

template <typename Number>
std::optional<Number> parseWhole(std::string_view text, auto... format) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, format...);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<uint8_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::optional<int32_t> parseInt32(std::string_view text) {
    return parseWhole<int32_t>(text);
}

std::optional<float> parseFloat(std::string_view text) {
    // from_chars also reads "inf" and "nan"; a level or value on the wire should be a number.
    const auto value = parseWhole<float>(text, std::chars_format::general);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> parsePort(std::string_view text, int32_t lowest) {
    const auto port = parseInt32(text);
    if (!port || *port < lowest || *port > 65535) {
        return std::nullopt;
    }
    return port;
}

std::optional<QVOSCData> parseHex(std::string_view text, bool allowBlanks) {
    QVOSCData bytes;
    int highNibble = -1;  // the first digit of a pair, while the second is awaited
    for (const char c : text) {
        if (allowBlanks && isBlank(c)) {
            continue;
        }
        const auto digit = hexDigit(c);
        if (!digit) {
            return std::nullopt;
        }
        if (highNibble < 0) {
            highNibble = *digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(highNibble << 4 | *digit));
            highNibble = -1;
        }
    }
    if (highNibble >= 0) {
        return std::nullopt;  // an odd number of digits
    }
    return bytes;
}

bool isPrintableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

bool writeLine(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int usageError(std::string_view command, std::string_view problem) {
    const std::string helpCommand = command.empty()
                                        ? std::string("kestrano-osc --help")
                                        : "kestrano-osc " + std::string(command) + " --help";
    std::fprintf(stderr, "kestrano-osc: %.*s (see '%s')\n", static_cast<int>(problem.size()),
                 problem.data(), helpCommand.c_str());
    return 2;
}

bool asksForHelp(std::span<char* const> arguments) {
    if (arguments.empty()) {
        return false;
    }
    const std::string_view first = arguments.front();
    return first == "--help" || first == "-h";
}
