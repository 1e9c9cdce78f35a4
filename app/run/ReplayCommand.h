#pragma once

#include "app/run/CommandLine.h"

// `kestrano --replay FILE`: the stored set-up (or a preset) over the whole recording, offline, on
// the clock the file's frames drive; the cue journal on standard output or in --journal's file,
// the summary on standard error. 0 when the whole file was replayed; 1 when it was damaged (the
// journal then holds what was read); 2 when nothing could be replayed.
int runReplay(const CommandLine& commandLine);
