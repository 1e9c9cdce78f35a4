#pragma once

#include <QCoreApplication>

#include "app/audio/AudioCaptureFactory.h"

// Runs the controller on the stored settings without a window until SIGINT or SIGTERM, printing
// a status line to standard output: a few times a second on a terminal, once a second otherwise.
// Returns the exit status.
int runHeadless(QCoreApplication& application, const AudioCaptureFactory& makeCapture);
