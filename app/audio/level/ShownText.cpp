#include "app/audio/level/ShownText.h"

#include <cstdio>

std::string shownText(std::string_view text, std::size_t maxLength) {
    std::string shown;
    for (const char c : text.substr(0, maxLength)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return text.size() > maxLength ? shown + "..." : shown;
}
