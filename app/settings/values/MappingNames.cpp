#include "app/settings/values/MappingNames.h"

#include <algorithm>
#include <cctype>

#include "app/settings/SettingsCatalog.h"
#include "app/settings/values/DisplayText.h"

namespace {

bool sameName(std::string_view one, std::string_view other) {
    return std::ranges::equal(one, other, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

bool isNameCharacter(char character) {
    return std::isalnum(static_cast<unsigned char>(character)) != 0 || character == '-' ||
           character == '_';
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<std::string> mappingNameProblem(std::string_view name,
                                              const std::vector<std::string>& others) {
    const std::string cannot = "'" + quotedRequestText(name) + "' cannot name a mapping: ";
    if (name.empty() || name.size() > kLongestMappingName ||
        !std::ranges::all_of(name, isNameCharacter)) {
        return cannot + "it is not 1 to 32 letters, digits, - or _";
    }
    if (sameName(name, "General")) {
        return cannot + "it is the name of the file's general section";
    }
    for (const SettingDefinition& setting : settingsCatalog()) {
        if (sameName(name, setting.key)) {
            return cannot + "it is a setting's name";
        }
    }
    // Remote control's answers put a mapping's name after /kestrano/ (/kestrano/kick/level), where
    // these words already mean a command or a setting's answer.
    for (const std::string_view word : {"setting", "set", "get", "save", "saved", "tap", "error"}) {
        if (sameName(name, word)) {
            return cannot + "it is a word of remote control's addresses";
        }
    }
    for (const std::string& other : others) {
        if (sameName(name, other)) {
            return cannot + "another mapping has it";
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> parseMappingNames(std::string_view text,
                                                          std::string& error) {
    std::vector<std::string> names;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view name = trimmed(text.substr(0, comma));
        if (auto problem = mappingNameProblem(name, names)) {
            error = std::move(*problem);
            return std::nullopt;
        }
        names.emplace_back(name);
        if (names.size() > kMostMappings) {
            error = "more than 16 names";
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            return names;
        }
        text = text.substr(comma + 1);
    }
}
