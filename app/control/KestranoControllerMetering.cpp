// The tick: level to meter, meter to position, position to the message for Zandorex.
#include <cmath>

#include "app/control/KestranoController.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"

namespace {

constexpr float threshold = 0.5f;

}  // namespace

void KestranoController::updateAudioLevels() {
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
    const auto meter = static_cast<float>(linear * 20.0 * volumeAmplification_);
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(meter);
    }
    status_.meter = meter;
    sendOSCMessageForPosition(std::fminf(1.0f, meter / 10.0f));
    statusChanged();
}

void KestranoController::showNoInput() {
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(0.0f);
    }
    status_.meter.reset();
    statusChanged();
}

void KestranoController::sendOSCMessageForPosition(float position) {
    if (!active_) {
        currentPosition_ = position;
        return;
    }
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + address_.value_or(std::string())));

    float value = 0.0f;
    if (type_ == 0) {
        value = (1.0f - position) * minValue_ + maxValue_ * position;
    } else if (currentPosition_ >= threshold && position < threshold) {
        value = minValue_;
    } else if (currentPosition_ < threshold && position >= threshold) {
        value = maxValue_;
    } else {
        currentPosition_ = position;
        return;
    }
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    if (zandorexSender_) {
        zandorexSender_->sendOSCPacket(*message);
        status_.lastValueSent = value;
        ++status_.messagesSent;
        monitor_.record(MonitorEntry::Direction::out, zandorexSender_->destinationAddress(),
                        std::make_shared<const QVOSCData>(message->packetizedData()));
    }
    currentPosition_ = position;
}
