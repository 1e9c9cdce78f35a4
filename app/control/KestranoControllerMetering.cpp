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
    captureFigures_.show(first.inputLevel, tempo_.channelsNote(), clock_());
    if (first.meter) {
        currentPosition_ = positionForMeter(*first.meter);
    }
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(first.meter.value_or(0.0f));
    }
    mappings_.show();
    statusChanged();
}

void KestranoController::sendOSCMessageForPosition(float position) {
    currentPosition_ = position;
    mappings_.first().sendForPosition(position, clock_());
}
