#pragma once

#include <string>
#include <vector>

#include "app/control/ControllerObserver.h"

// One line for the status bar and the headless output: the input level (before the
// amplification), the last value sent and any trouble, e.g. "level -12.0 dBFS | sent 3.250 |
// cannot listen on port 5001: Address already in use"; each further mapping adds a word, "kick
// on" for a gate, "voice 4.20" for the last value a continuous one sent.
std::string statusLine(const ControllerStatus& status);

// The mappings that send to one address, one text per address ("kick and hat send to
// /zandorex/drums"); empty when each has its own.
std::vector<std::string> sharedAddresses(const std::vector<MappingStatus>& mappings);
