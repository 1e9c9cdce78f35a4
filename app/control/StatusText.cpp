#include "app/control/StatusText.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

double meterDecibels(float meter) {
    return 20.0 * std::log10(static_cast<double>(meter) / 20.0);
}

std::string statusLine(const ControllerStatus& status) {
    std::vector<std::string> parts;
    if (!status.meter) {
        parts.emplace_back("no input device");
    } else if (*status.meter > 0.0f) {
        parts.push_back(formatted("level %.1f dBFS", meterDecibels(*status.meter)));
    } else {
        parts.emplace_back("level -inf dBFS");
    }
    parts.push_back(status.lastValueSent ? formatted("sent %.3f", *status.lastValueSent)
                                         : std::string("nothing sent"));
    for (const std::string* error :
         {&status.deviceError, &status.senderError, &status.listenerError}) {
        if (!error->empty()) {
            parts.push_back(*error);
        }
    }
    parts.insert(parts.end(), status.settingsNotices.begin(), status.settingsNotices.end());
    std::string line;
    for (const std::string& part : parts) {
        line += line.empty() ? part : " | " + part;
    }
    return line;
}
