#include "app/settings/values/DisplayText.h"

#include <cstdio>

namespace {

bool printable(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7f;
}

void appendEscaped(std::string& text, unsigned char byte) {
    if (printable(byte)) {
        text += static_cast<char>(byte);
        return;
    }
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    text += escape;
}

}  // namespace

std::string escapedText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        appendEscaped(escaped, static_cast<unsigned char>(c));
    }
    return escaped;
}

std::string quotedRequestText(std::string_view text) {
    std::string quoted;
    for (size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        // An escape is never cut in half.
        if (quoted.size() + (printable(byte) ? 1 : 4) > quoteLimit) {
            return quoted + "...";
        }
        appendEscaped(quoted, byte);
    }
    return quoted;
}
