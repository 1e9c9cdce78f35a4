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
        showNoInput();
        return;
    }
    const float average = sum / static_cast<float>(count);
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
    if (!active()) {
        shaping_.follow(position);
        currentPosition_ = position;
        return;
    }
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + address().value_or(std::string())));

    float value = 0.0f;
    if (type() == 0) {
        shaping_.follow(position);
        value = (1.0f - smoothed) * minValue() + maxValue() * smoothed;
    } else {
        switch (shaping_.turn(position, now)) {
            case TriggerGate::Change::turnedOn:
                value = maxValue();
                break;
            case TriggerGate::Change::turnedOff:
                value = minValue();
                break;
            case TriggerGate::Change::none:
                currentPosition_ = position;
                return;
        }
    }
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    const auto kind = type() == 0 ? Destination::Kind::continuous : Destination::Kind::trigger;
    if (destination_.send(*message, kind)) {
        status_.lastValueSent = value;
        ++status_.messagesSent;
        monitor_.record(MonitorEntry::Direction::out,
                        destination_.endpoint().value_or(NetworkEndpoint{}),
                        std::make_shared<const QVOSCData>(message->packetizedData()));
    }
    currentPosition_ = position;
}
