#pragma once

#include <QCoreApplication>

#include "app/audio/AudioCaptureFactory.h"

// Runs the controller on the stored settings without a window until SIGINT or SIGTERM, printing
// a status line to standard output: a few times a second on a terminal; otherwise (a journal, a
// pipe) when the device, an error or whether messages go out changes, and at least once a minute.
// Returns the exit status.
int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture);
