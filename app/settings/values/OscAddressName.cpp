#include "app/settings/values/OscAddressName.h"

bool isOscAddressName(std::string_view name) {
    constexpr std::string_view patternCharacters = " #*,?[]{}";
    // "/zandorex//x" and "/zandorex/x/" have an empty part, which a peer reads as "any depth" or
    // drops; the slash after "zandorex" is the program's own (an empty name sends "/zandorex/").
    if (name.starts_with('/') || name.ends_with('/') || name.find("//") != std::string_view::npos) {
        return false;
    }
    for (const char c : name) {
        if (c < 0x20 || c > 0x7e || patternCharacters.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}
