#include "app/settings/store/OriginalLines.h"

#include <map>
#include <string_view>
#include <vector>
#include "app/settings/values/TrimmedText.h"

namespace {

// One logical line: a physical line and those a trailing backslash continues it with.
struct Line {
    std::string_view text;
    // The key it sets as the reader names it: "KEY" in the [General] section (or before any
    // section), "SECTION/KEY" in another; empty for anything else.
    std::string key;
};

std::vector<Line> linesOf(std::string_view text) {
    std::vector<Line> lines;
    // The prefix of the keys of the section the line is in.
    std::string section;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = start;
        // A value continues on the next line after a backslash ending its line.
        for (;;) {
            const size_t newline = text.find('\n', end);
            end = newline == std::string_view::npos ? text.size() : newline + 1;
            const std::string_view physical =
                trimmedText(text.substr(start, end - start), " \t\r\n");
            if (newline == std::string_view::npos || !physical.ends_with('\\')) {
                break;
            }
        }
        const std::string_view line = text.substr(start, end - start);
        const std::string_view content = trimmedText(line, " \t\r\n");
        std::string key;
        if (content.starts_with('[') && content.ends_with(']')) {
            const std::string_view name = content.substr(1, content.size() - 2);
            section = name == "General" ? std::string() : std::string(name) + "/";
        } else if (!content.starts_with(';') && !content.starts_with('#')) {
            const size_t equals = content.find('=');
            if (equals != std::string_view::npos) {
                key = section + std::string(trimmedText(content.substr(0, equals), " \t\r\n"));
            }
        }
        lines.push_back({line, std::move(key)});
        start = end;
    }
    return lines;
}

}  // namespace

std::string withOriginalLines(const std::string& original, const std::string& written,
                              const std::set<std::string, std::less<>>& rewritten) {
    // The reader takes a key's last line, so that is the one to keep.
    std::map<std::string, std::string_view, std::less<>> originalLines;
    for (Line& line : linesOf(original)) {
        if (!line.key.empty()) {
            originalLines[std::move(line.key)] = line.text;
        }
    }
    std::string kept;
    for (const Line& line : linesOf(written)) {
        const auto found = originalLines.find(line.key);
        if (line.key.empty() || rewritten.contains(line.key) || found == originalLines.end()) {
            kept += line.text;
            continue;
        }
        kept += found->second;
        if (!found->second.ends_with('\n')) {
            kept += '\n';  // the original's last line, followed here by more
        }
    }
    return kept;
}
