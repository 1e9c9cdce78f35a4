// The tick: level to meter, meter to position, position to the message for Zandorex.
#include "app/control/KestranoController.h"
#include "app/shaping/LevelPosition.h"

void KestranoController::updateAudioLevels() {
    listener_.tick();
    // The take of every meter; each mapping then reads its own.
    session_->channelAveragePowerLevels();
    const std::vector<MeterReading> readings = session_->meterReadings();
    mappings_.levelsArrived(readings, clock_());
    const MappingStatus& first = mappings_.first().status();
    showCaptureFigures(first.inputLevel);
    if (first.meter) {
        currentPosition_ = positionForMeter(*first.meter);
    }
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(first.meter.value_or(0.0f));
    }
    mappings_.show();
    statusChanged();
}

void KestranoController::showCaptureFigures(std::optional<float> averagePowerDb) {
    // A channel this much louder than the figure in use is most likely the one that matters.
    constexpr float louderChannelHint = 40.0f;
    const MonotonicTime now = clock_();
    const std::vector<MeterReading> readings = session_->meterReadings();
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
    if (std::optional<std::string> tempo = tempo_.channelsNote()) {
        notes.push_back(std::move(*tempo));
    }
    status_.captureNotes = std::move(notes);
    const std::optional<float> loudest = session_->loudestChannelLevel();
    status_.louderChannelBy.reset();
    if (averagePowerDb && loudest && *loudest - *averagePowerDb >= louderChannelHint) {
        status_.louderChannelBy = *loudest - *averagePowerDb;
    }
}

void KestranoController::sendOSCMessageForPosition(float position) {
    currentPosition_ = position;
    mappings_.first().sendForPosition(position, clock_());
}
