#pragma once

#include <set>
#include <string>

// The settings file's writer re-encodes every key it read, so a value the program ignored (bytes
// that are not UTF-8, a control character) would come back in another form. This gives the text
// `written` with the line of each key (a section's as "SECTION/KEY") that is not in `rewritten`
// taken back, byte for byte, from `original`, where `original` holds that key; every other line
// stays as written.
std::string withOriginalLines(const std::string& original, const std::string& written,
                              const std::set<std::string, std::less<>>& rewritten);
