#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kMostMappings = 16;
inline constexpr size_t kLongestMappingName = 32;

// Reads a mappings text: names separated by commas, spaces around each dropped. A name is 1 to
// 32 letters, digits, '-' or '_'; no two are the same, none is a setting's name or General, and
// there are at most 16. Names are compared without case, since a file edited on a system whose
// settings ignore case would merge them. Nothing, with `error` saying why, for any other text.
// Why `name` cannot name a mapping beside `others`, in words that quote the name alone; nothing
// when it can. The check of every name of a mappings text, and of a rename.
std::optional<std::string> mappingNameProblem(std::string_view name,
                                              const std::vector<std::string>& others);

std::optional<std::vector<std::string>> parseMappingNames(std::string_view text,
                                                          std::string& error);
