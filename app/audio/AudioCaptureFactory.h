#pragma once

#include <functional>
#include <memory>

#include "app/audio/AudioCapture.h"

// Makes the capture the controller drives, on the program's main loop.
using AudioCaptureFactory = std::function<std::unique_ptr<AudioCapture>(MainLoop& mainLoop)>;
