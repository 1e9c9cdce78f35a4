#pragma once

#include <QCoreApplication>
#include <optional>
#include <string>

#include "app/audio/AudioCaptureFactory.h"

// Runs the controller on the settings in `settingsFile` (nothing: the user's own) without a window
// until SIGINT or SIGTERM, printing a status line to standard output: a few times a second on a
// terminal; otherwise (a journal, a pipe) when the device, an error or whether messages go out
// changes, and at least once a minute. With `monitor`, standard output gets the OSC monitor's
// lines instead, and the status goes to standard error. Returns the exit status.
int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture,
                const std::optional<std::string>& settingsFile, bool monitor = false);
