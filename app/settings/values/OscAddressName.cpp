#include "app/settings/values/OscAddressName.h"

bool isOscAddressName(std::string_view name) {
    constexpr std::string_view patternCharacters = " #*,?[]{}";
    for (const char c : name) {
        if (c < 0x20 || c > 0x7e || patternCharacters.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}
