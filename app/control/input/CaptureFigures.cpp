#include "app/control/input/CaptureFigures.h"

#include <vector>

namespace {

// A channel this much louder than the figure in use is most likely the one that matters.
constexpr float louderChannelHint = 40.0f;

}  // namespace

CaptureFigures::CaptureFigures(const AudioCapture& capture, ControllerStatus& status)
    : capture_(capture), status_(status) {}

void CaptureFigures::show(std::optional<float> averagePowerDb, std::optional<std::string> tempoNote,
                          MonotonicTime now) {
    const std::vector<MeterReading> readings = capture_.meterReadings();
    const MeterReading reading = readings.empty() ? MeterReading{} : readings.front();
    peakHold_.update(averagePowerDb ? reading.samplePeak : std::nullopt, now);
    status_.samplePeak = peakHold_.heldPeak();
    status_.clipping = peakHold_.clipping(now);
    std::vector<std::string> notes;
    if (!reading.channelsError.empty()) {
        notes.push_back(reading.channelsError);
    }
    if (std::string band = reading.band.text(); !band.empty()) {
        notes.push_back(std::move(band));
    }
    // A further mapping's missing channel stays in view too; its error names its key.
    for (std::size_t index = 1; index < readings.size(); ++index) {
        if (!readings[index].channelsError.empty()) {
            notes.push_back(readings[index].channelsError);
        }
    }
    if (tempoNote) {
        notes.push_back(std::move(*tempoNote));
    }
    status_.captureNotes = std::move(notes);
    const std::optional<float> loudest = capture_.loudestChannelLevel();
    status_.louderChannelBy.reset();
    if (averagePowerDb && loudest && *loudest - *averagePowerDb >= louderChannelHint) {
        status_.louderChannelBy = *loudest - *averagePowerDb;
    }
}
