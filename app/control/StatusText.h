#pragma once

#include <string>

#include "app/control/ControllerObserver.h"

// One line for the status bar and the headless output: the input level (before the
// amplification), the last value sent and any trouble, e.g. "level -12.0 dBFS | sent 3.250 |
// cannot listen on port 5001: Address already in use".
std::string statusLine(const ControllerStatus& status);
