#include "app/settings/values/HostText.h"

#include <cctype>
#include <string>

#include "transport/NetworkEndpointText.h"

namespace {

bool isLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
        return false;
    }
    for (const char c : label) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool isNumericAddress(std::string_view text) {
    return numericEndpoint(std::string(text), 0).has_value();
}

bool isHostNameOrAddress(std::string_view text) {
    if (isNumericAddress(text)) {
        return true;
    }
    if (text.empty() || text.size() > 253) {
        return false;
    }
    if (text.back() == '.') {
        text.remove_suffix(1);  // a fully qualified name may end in a dot
    }
    for (size_t start = 0;;) {
        const size_t dot = text.find('.', start);
        if (!isLabel(text.substr(start, dot - start))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        start = dot + 1;
    }
}
