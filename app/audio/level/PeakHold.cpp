#include "app/audio/level/PeakHold.h"

void PeakHold::update(std::optional<float> samplePeak, TimePoint now) {
    const bool expired = now - heldSince_ >= kPeakHold;
    if (samplePeak && (!held_ || *samplePeak >= *held_ || expired)) {
        held_ = samplePeak;
        heldSince_ = now;
    } else if (!samplePeak && expired) {
        held_.reset();
    }
    if (samplePeak && *samplePeak >= kClipDecibels) {
        clippedAt_ = now;
    }
}
