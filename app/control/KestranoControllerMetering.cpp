// The tick: level to meter, meter to position, position to the message for Zandorex.
#include <cmath>

#include "app/control/KestranoController.h"
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
    const double linear = std::pow(10.0, average * 0.05);
    const auto meter = static_cast<float>(linear * 20.0 * volumeAmplification());
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(meter);
    }
    status_.meter = meter;
    status_.inputLevel = average;
    sendOSCMessageForPosition(std::fminf(1.0f, meter / 10.0f));
    statusChanged();
}

void KestranoController::showCaptureFigures(std::optional<float> averagePowerDb) {
    // A channel this much louder than the figure in use is most likely the one that matters.
    constexpr float louderChannelHint = 40.0f;
    const MonotonicTime now = clock_();
    peakHold_.update(averagePowerDb ? session_->samplePeakLevel() : std::nullopt, now);
    status_.samplePeak = peakHold_.heldPeak();
    status_.clipping = peakHold_.clipping(now);
    std::vector<std::string> notes;
    if (std::string error = session_->inputChannelsError(); !error.empty()) {
        notes.push_back(std::move(error));
    }
    if (std::string band = session_->bandStatus().text(); !band.empty()) {
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
    // In fast response the capture's fragments feed the trigger gate; the tick only follows.
    if (!active() || (type() != 0 && fastTrigger())) {
        if (!active()) {
            shaping_.follow(position);
        }
        currentPosition_ = position;
        return;
    }
    if (type() == 0) {
        shaping_.follow(position);
        sendValue((1.0f - smoothed) * minValue() + maxValue() * smoothed,
                  Destination::Kind::continuous);
    } else {
        turnTrigger(position, now);
    }
    currentPosition_ = position;
}

bool KestranoController::turnTrigger(float position, MonotonicTime now) {
    switch (shaping_.turn(position, now)) {
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

void KestranoController::fastLevelArrived(float averagePowerDb) {
    if (!fastTrigger()) {
        return;  // posted before the response or the mode changed
    }
    // The tick's formula, over a fragment of at most 5 ms.
    const double linear = std::pow(10.0, averagePowerDb * 0.05);
    const auto meter = static_cast<float>(linear * 20.0 * volumeAmplification());
    const float position = std::fminf(1.0f, meter / 10.0f);
    if (!active()) {
        shaping_.follow(position);
        return;
    }
    if (turnTrigger(position, clock_())) {
        statusChanged();
    }
}

void KestranoController::sendValue(float value, Destination::Kind kind) {
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + address().value_or(std::string())));
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    if (destination_.send(*message, kind)) {
        status_.lastValueSent = value;
        ++status_.messagesSent;
        monitor_.record(MonitorEntry::Direction::out,
                        destination_.endpoint().value_or(NetworkEndpoint{}),
                        std::make_shared<const QVOSCData>(message->packetizedData()));
    }
}
