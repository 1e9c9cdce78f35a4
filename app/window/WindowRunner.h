#pragma once

#include <QApplication>

#include "app/audio/AudioCaptureFactory.h"

// Runs the controller with its window on the stored settings until the window closes or SIGINT
// or SIGTERM arrives. Returns the exit status.
int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture);
