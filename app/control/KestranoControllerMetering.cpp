// The tick: level to meter, meter to position, position to the message for Zandorex.
#include "app/control/KestranoController.h"
#include "app/shaping/LevelPosition.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"

void KestranoController::updateAudioLevels() {
    reportDroppedDatagrams();
    float sum = 0.0f;
    uint32_t count = 0;
    for (const std::vector<float>& connection : session_->channelAveragePowerLevels()) {
        for (const float averagePowerLevel : connection) {
            sum += averagePowerLevel;
            ++count;
        }
    }
    if (count == 0) {
        // 0 / 0 would give a position of 1 and send the maximum on every tick.
        showCaptureFigures(std::nullopt);
        showNoInput();
        return;
    }
    const float average = sum / static_cast<float>(count);
    showCaptureFigures(average);
    const float meter = meterForLevel(average, volumeAmplification());
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(meter);
    }
    status_.meter = meter;
    status_.inputLevel = average;
    sendOSCMessageForPosition(positionForMeter(meter));
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
    status_.captureNotes = std::move(notes);
    const std::optional<float> loudest = session_->loudestChannelLevel();
    status_.louderChannelBy.reset();
    if (averagePowerDb && loudest && *loudest - *averagePowerDb >= louderChannelHint) {
        status_.louderChannelBy = *loudest - *averagePowerDb;
    }
}

void KestranoController::showNoInput() {
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(0.0f);
    }
    status_.meter.reset();
    status_.inputLevel.reset();
    statusChanged();
}

void KestranoController::sendOSCMessageForPosition(float position) {
    const MonotonicTime now = clock_();
    const float smoothed = shaping_.smooth(position, now);
    currentPosition_ = position;
    // In fast response the gate runs on the capture's thread, fragment by fragment.
    if (fastResponse_) {
        return;
    }
    if (!active()) {
        shaping_.follow(position);
    } else if (type() == 0) {
        shaping_.follow(position);
        sendValue((1.0f - smoothed) * minValue() + maxValue() * smoothed,
                  Destination::Kind::continuous);
    } else {
        sendTurn(shaping_.turn(position, now));
    }
}

bool KestranoController::sendTurn(TriggerGate::Change change) {
    switch (change) {
        case TriggerGate::Change::turnedOn:
            sendValue(maxValue(), Destination::Kind::trigger);
            return true;
        case TriggerGate::Change::turnedOff:
            sendValue(minValue(), Destination::Kind::trigger);
            return true;
        case TriggerGate::Change::none:
            break;
    }
    return false;
}

void KestranoController::fastTriggerTurned(TriggerGate::Change change) {
    // A turn posted just before the mode or activity changed is still the gate's state, which
    // the tick's gate has taken over: the peer hears of it unless nothing is to be sent at all.
    if (type() != 0 && active() && sendTurn(change)) {
        statusChanged();
    }
}

void KestranoController::sendValue(float value, Destination::Kind kind) {
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + address().value_or(std::string())));
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    // A value held over an outage is told of when it goes.
    if (destination_.send(message, kind) == Destination::Delivery::sent) {
        valueSent(*message);
    }
}

void KestranoController::valueSent(const QVOSCMessage& message) {
    const std::vector<std::shared_ptr<QVOSCArgument>> arguments = message.arguments();
    status_.lastValueSent = arguments.front()->floatValue();
    ++status_.messagesSent;
    monitor_.record(MonitorEntry::Direction::out,
                    destination_.endpoint().value_or(NetworkEndpoint{}),
                    std::make_shared<const QVOSCData>(message.packetizedData()));
}
