#pragma once

#include <optional>
#include <string>

#include "app/audio/AudioCapture.h"
#include "app/audio/level/PeakHold.h"
#include "app/control/ControllerObserver.h"
#include "app/shaping/MonotonicClock.h"

// The tick's figures of the input beside the mappings' levels: the sample peak held for the eye
// and the clip lamp, what the capture says about the channels and the band, and a channel so
// much louder than the level in use that the channels most likely need choosing. Runs on the
// main thread.
class CaptureFigures {
  public:
    // `status` receives the figures.
    CaptureFigures(const AudioCapture& capture, ControllerStatus& status);
    CaptureFigures(const CaptureFigures&) = delete;
    CaptureFigures& operator=(const CaptureFigures&) = delete;

    // After the capture's take: `averagePowerDb` is the level in use (the first meter's),
    // nothing without one; `tempoNote` what the tempo has to say about its channels.
    void show(std::optional<float> averagePowerDb, std::optional<std::string> tempoNote,
              MonotonicTime now);

  private:
    const AudioCapture& capture_;
    ControllerStatus& status_;
    PeakHold peakHold_;
};
