#pragma once

#include <string>
#include <string_view>

#include "osc/QVOSCTypes.h"

// The text that dump prints for received bytes: the packet's own text, or
// "UNDECODABLE: <unit> of N bytes" when they hold no packet.
std::string packetText(QVOSCBytes bytes, std::string_view unit);
