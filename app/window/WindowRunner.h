#pragma once

#include <QApplication>
#include <optional>
#include <string>

#include "app/audio/AudioCaptureFactory.h"

// Runs the controller with its window on the settings in `settingsFile` (nothing: the user's own)
// until the window closes or SIGINT or SIGTERM arrives. Returns the exit status.
int runWindow(QApplication& application, const AudioCaptureFactory& makeCapture,
              const std::optional<std::string>& settingsFile);
