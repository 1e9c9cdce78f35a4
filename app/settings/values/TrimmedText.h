#pragma once

#include <string_view>

// `text` without the `blanks` around it: hand-written lists and lines carry spaces and tabs.
inline std::string_view trimmedText(std::string_view text, std::string_view blanks = " \t") {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}
