#include "app/replay/CueJournal.h"

#include <algorithm>
#include <cstdio>

#include "app/settings/store/PreferencesStore.h"
#include "app/settings/values/DisplayText.h"

namespace {

std::string seconds3(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string argumentText(const QVOSCArgument& argument) {
    switch (argument.type()) {
        case 'i':
            return std::to_string(argument.intValue());
        case 'f':
            return shortestFloatText(argument.floatValue());
        case 's':
            return escapedText(argument.stringValue().value_or(std::string()));
        default:
            return escapedText(argument.description());
    }
}

}  // namespace

std::string journalLine(double seconds, const QVOSCMessage& message) {
    std::string line = seconds3(seconds) + "\t" +
                       escapedText(message.address() ? message.address()->address() : "");
    for (const auto& argument : message.arguments()) {
        line += "\t" + argumentText(*argument);
    }
    return line;
}

TurnSummary::Mapping& TurnSummary::mappingNamed(const std::string& name) {
    const auto found = std::ranges::find(mappings_, name, &Mapping::name);
    if (found != mappings_.end()) {
        return *found;
    }
    mappings_.push_back(Mapping{name});
    return mappings_.back();
}

void TurnSummary::observe(const ControllerStatus& status, double seconds) {
    for (const MappingStatus& shown : status.mappings) {
        Mapping& mapping = mappingNamed(shown.name);
        mapping.continuous = shown.continuous;
        mapping.lastValue = shown.lastValueSent;
        if (shown.on == mapping.on) {
            continue;
        }
        mapping.on = shown.on;
        if (shown.on) {
            if (mapping.turnsOn++ == 0) {
                mapping.firstOn = seconds;
            }
            mapping.lastOn = seconds;
            mapping.onSince = seconds;
        } else {
            mapping.timeOn += seconds - mapping.onSince;
        }
    }
}

std::string TurnSummary::text(double endSeconds) const {
    std::string text;
    for (const Mapping& mapping : mappings_) {
        text +=
            (mapping.name.empty() ? std::string("(first mapping)") : escapedText(mapping.name)) +
            ": ";
        if (mapping.continuous) {
            text += "continuous, last value " +
                    (mapping.lastValue ? shortestFloatText(*mapping.lastValue) : "none");
        } else if (mapping.turnsOn == 0) {
            text += "never on";
        } else {
            const double timeOn =
                mapping.timeOn + (mapping.on ? endSeconds - mapping.onSince : 0.0);
            text += std::to_string(mapping.turnsOn) + " turns on, on for " + seconds3(timeOn) +
                    " s, first at " + seconds3(mapping.firstOn) + " s, last at " +
                    seconds3(mapping.lastOn) + " s";
        }
        text += "\n";
    }
    return text;
}
