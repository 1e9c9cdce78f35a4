#pragma once

#include "app/run/CommandLine.h"

// The options that act on the stored settings and exit: --set, --preset, --save-preset and
// --list-presets. Says what it refused on standard error and gives the exit status: 0 when done,
// 2 when the request was refused (nothing was written), 1 when the file could not be written.
int runSettingsCommand(const CommandLine& commandLine);
