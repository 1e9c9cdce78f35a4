#pragma once

#include <string_view>

class LineOutput;

// Writes one line to the system log: standard error, and the system's log socket where a log
// daemon listens. Never waits, from any thread: a line that a stalled reader (a terminal on hold,
// a full pipe, a busy daemon) cannot take is dropped and counted, and the count is said in a line
// of its own once the reader takes lines again. False when the line to standard error was dropped.
bool systemLog(std::string_view line);

// Says the lines dropped so far on standard error that were not said yet, if the reader takes it
// now; for a caller that checks now and then, so that the count does not wait for the next line.
void tellDroppedLogLines();

// Standard error as the log writes it, for other output that goes there (a status line), so that
// their lines and the log's never mix and their drops are counted together.
LineOutput& standardErrorOutput();
