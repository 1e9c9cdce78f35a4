#include "app/settings/SettingsReference.h"

#include <cctype>
#include <string_view>

#include "app/settings/SettingsCatalog.h"

namespace {

// The catalogue's plain words for --help shown as they are, not read as Markdown.
std::string plainText(std::string_view words) {
    std::string text;
    for (const char character : words) {
        if (std::string_view("\\`*_[]<>#|").find(character) != std::string_view::npos) {
            text += '\\';
        }
        text += character;
    }
    return text;
}

std::string code(std::string_view text) {
    return "`" + std::string(text) + "`";
}

// A phrase of the catalogue as a sentence of the page.
std::string sentence(std::string_view phrase) {
    std::string text(phrase);
    if (!text.empty()) {
        text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
    }
    return text + ".";
}

// The heading's anchor as the repository's web view makes it: lower case, spaces to hyphens;
// a key has neither spaces nor punctuation.
std::string anchor(std::string_view key) {
    std::string text;
    for (const char character : key) {
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    }
    return text;
}

std::string absence(const SettingDefinition& setting) {
    std::string text =
        !setting.absenceMeans.empty() ? std::string(setting.absenceMeans)
        : setting.absent ? (setting.absent->empty() ? std::string("empty") : code(*setting.absent))
                         : code(setting.absentShown);
    if (setting.zeroIsAbsent) {
        text += "; a plain `0` in the file counts as absent too";
    }
    return text;
}

std::string stored(const SettingDefinition& setting) {
    return setting.persistence == Persistence::atOnce ? "at once" : "by *Save*";
}

std::string remotely(const SettingDefinition& setting) {
    if (!setting.remotelySettable) {
        return "may not set it";
    }
    const std::string key(setting.key);
    return setting.scope == SettingScope::mapping
               ? "may set it: `/kestrano/set/" + key +
                     "`, a further mapping's `/kestrano/set/NAME/" + key + "`"
               : "may set it: `/kestrano/set/" + key + "`";
}

std::string section(const SettingDefinition& setting) {
    std::string text = "### " + code(setting.key) + "\n\n" + sentence(setting.meaning) + "\n\n";
    text += "- Values: " + plainText(setting.expected) + "\n";
    text += "- When absent: " + absence(setting) + "\n";
    if (setting.failsClosed) {
        text += "- Refused in the file: fails closed, never taken as absent\n";
    }
    text += "- Stored: " + stored(setting) + "\n";
    text += "- Remote control: " + remotely(setting) + "\n\n";
    return text;
}

std::string sections(SettingScope scope) {
    std::string text;
    for (const SettingDefinition& setting : settingsCatalog()) {
        if (setting.scope == scope) {
            text += section(setting);
        }
    }
    return text;
}

// What every key shares, before the keys.
constexpr std::string_view introduction = R"(# Settings reference

<!-- Written by `kestrano --settings-reference` from the program's settings catalogue, like
     --help and the man page: change the catalogue, then write this page again. -->

Settings live in `$XDG_CONFIG_HOME/Kestrano/Kestrano.conf` (usually
`~/.config/Kestrano/Kestrano.conf`), or in the file given with `--config`. The window edits them;
`kestrano --set KEY=VALUE` stores one and refuses a bad value with a reason and exit status 2.
How they are read, stored and shared between several mappings is in the
[user's guide](user-guide.md#settings); the messages they shape are in the
[OSC reference](osc-reference.md).

*Stored at once* means that a change from the window or remote control is written to the file as
it is made; the others are written by *Save* (or `/kestrano/save`). `--set` always stores at once.
A mapping's key without a name is the first mapping's; each mapping that `mappings` names has its
own, written `NAME/KEY` (see [several mappings](user-guide.md#several-mappings-of-one-input)).

| Key | Whose | Stored | Remote control may set it |
|---|---|---|---|
)";

}  // namespace

std::string settingsReferenceMarkdown() {
    std::string text(introduction);
    for (const SettingDefinition& setting : settingsCatalog()) {
        text += "| [" + code(setting.key) + "](#" + anchor(setting.key) + ") | " +
                (setting.scope == SettingScope::mapping ? "each mapping's" : "the instance's") +
                " | " + stored(setting) + " | " + (setting.remotelySettable ? "yes" : "no") +
                " |\n";
    }
    text += "\n## The instance's settings\n\n" + sections(SettingScope::instance);
    text += "## Each mapping's settings\n\n" + sections(SettingScope::mapping);
    text.pop_back();  // one newline at the end of the page
    return text;
}
