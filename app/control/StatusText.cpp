#include "app/control/StatusText.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings/values/DisplayText.h"

namespace {

std::string formatted(const char* format, double value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string statusLine(const ControllerStatus& status) {
    std::vector<std::string> parts;
    parts.push_back(status.inputLevel ? formatted("level %.1f dBFS", *status.inputLevel)
                                      : std::string("no input device"));
    if (status.samplePeak) {
        parts.push_back(formatted("peak %.1f dBFS", *status.samplePeak));
    }
    if (status.clipping) {
        parts.push_back("CLIP");
    }
    parts.insert(parts.end(), status.captureNotes.begin(), status.captureNotes.end());
    parts.insert(parts.end(), status.sharedAddresses.begin(), status.sharedAddresses.end());
    if (status.louderChannelBy) {
        parts.push_back(
            formatted("one channel is %.0f dB louder than the level in use: see "
                      "inputChannels",
                      *status.louderChannelBy));
    }
    if (status.connectionDown) {
        parts.push_back(status.lastValueSent
                            ? formatted("not sending: the connection is down (last sent %.3f)",
                                        *status.lastValueSent)
                            : std::string("not sending: the connection is down"));
    } else {
        parts.push_back(status.lastValueSent ? formatted("sent %.3f", *status.lastValueSent)
                                             : std::string("nothing sent"));
    }
    // Each further mapping in a word: a gate's state, or a continuous mapping's last value. The
    // first one's are the line's own "sent".
    for (const MappingStatus& mapping : status.mappings) {
        if (mapping.name.empty()) {
            continue;
        }
        if (!mapping.continuous) {
            parts.push_back(mapping.name + (mapping.on ? " on" : " off"));
        } else {
            parts.push_back(mapping.name + (mapping.lastValueSent
                                                ? formatted(" %.2f", *mapping.lastValueSent)
                                                : std::string(" -")));
        }
    }
    if (!status.preset.empty()) {
        parts.push_back("preset " + quotedRequestText(status.preset) +
                        (status.presetChanged ? " (changed)" : ""));
    }
    if (status.tempo) {
        const TempoStatus& tempo = *status.tempo;
        parts.push_back((tempo.bpm ? formatted("tempo %.1f", *tempo.bpm) : std::string("tempo -")) +
                        (tempo.held     ? " held"
                         : tempo.unsure ? " unsure"
                         : tempo.tapped ? " tapped"
                                        : ""));
    }
    if (!status.tempoNote.empty()) {
        parts.push_back(status.tempoNote);
    }
    if (status.droppedIncomingDatagrams > 0) {
        parts.push_back("dropped " + std::to_string(status.droppedIncomingDatagrams) +
                        " incoming datagrams");
    }
    const auto count = [&parts](uint64_t number, const char* what) {
        if (number > 0) {
            parts.push_back(std::to_string(number) + what);
        }
    };
    count(status.repliesDropped, " remote answers dropped (too many)");
    count(status.commandsRefused, " commands from sources not in remoteControlFrom ignored");
    count(status.sendsDropped, " sends dropped (send buffer full)");
    if (status.receiveErrors > 0) {
        parts.push_back("receiving failed " + std::to_string(status.receiveErrors) +
                        " times (last: " + status.lastReceiveError + "); listening again");
    }
    for (const std::string* error :
         {&status.remoteAccess, &status.connection, &status.deviceError, &status.senderError,
          &status.listenerError, &status.pageNote}) {
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

std::vector<std::string> sharedAddresses(const std::vector<MappingStatus>& mappings) {
    std::vector<std::string> shared;
    for (auto mapping = mappings.begin(); mapping != mappings.end(); ++mapping) {
        const auto sameAddress = [&](const MappingStatus& other) {
            return other.address == mapping->address;
        };
        // Told once, at the first of the mappings on the address.
        if (std::any_of(mappings.begin(), mapping, sameAddress) ||
            std::count_if(mapping, mappings.end(), sameAddress) < 2) {
            continue;
        }
        std::string names;
        for (auto other = mapping; other != mappings.end(); ++other) {
            if (sameAddress(*other)) {
                names += (names.empty() ? "" : " and ") +
                         (other->name.empty() ? std::string("the first mapping") : other->name);
            }
        }
        shared.push_back(names + " send to /zandorex/" + mapping->address);
    }
    return shared;
}
