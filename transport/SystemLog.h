#pragma once

#include <string_view>

// Writes one line to the system log: standard error, and syslog(3) where a log daemon listens.
void systemLog(std::string_view line);
