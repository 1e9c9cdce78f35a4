#pragma once

#include <string_view>

// A numeric IPv4 or IPv6 address, e.g. 127.0.0.1, ::1, fe80::1%eth0.
bool isNumericAddress(std::string_view text);
// A numeric address or a host name: dot-separated labels of letters, digits and hyphens, none
// starting or ending with a hyphen, 253 characters at most.
bool isHostNameOrAddress(std::string_view text);
