#pragma once

#include <span>

// The subcommands of kestrano-osc. Each gets the arguments after its name and returns the exit
// status: 0 done, 1 failed, 2 bad arguments.
int runSend(std::span<char* const> arguments);
int runDump(std::span<char* const> arguments);
int runDecode(std::span<char* const> arguments);
