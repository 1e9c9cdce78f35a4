#pragma once

#include <string_view>

// Whether `name` can follow "/zandorex/": printable ASCII without the characters that would make
// the address a pattern (space # * , ? [ ] { }, an empty part: a leading or trailing / or //). Text outside
// ASCII would blank the address.
bool isOscAddressName(std::string_view name);
