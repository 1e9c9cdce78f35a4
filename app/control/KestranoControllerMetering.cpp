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
    } else {
        const float average = sum / static_cast<float>(count);
        showCaptureFigures(average);
        const float meter = meterForLevel(average, volumeAmplification());
        if (audioLevelMeter_ != nullptr) {
            audioLevelMeter_->setValue(meter);
        }
        status_.meter = meter;
        status_.inputLevel = average;
        sendOSCMessageForPosition(positionForMeter(meter));
    }
    tickFurtherMappings();
    statusChanged();
}

void KestranoController::tickFurtherMappings() {
    const std::vector<MeterReading> readings = session_->meterReadings();
    const MonotonicTime now = clock_();
    status_.mappings.clear();
    for (size_t index = 1; index < chains_.size(); ++index) {
        MappingChain& chain = *chains_[index];
        const MeterReading reading = index < readings.size() ? readings[index] : MeterReading{};
        std::optional<float> level;
        if (!reading.levels.empty()) {
            float sum = 0.0f;
            for (const float channelLevel : reading.levels) {
                sum += channelLevel;
            }
            level = sum / static_cast<float>(reading.levels.size());
        }
        chain.levelArrived(level, reading.samplePeak, now);
        status_.mappings.push_back(chain.status());
    }
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
    if (std::optional<std::string> tempo = tempoChannelsNote()) {
        notes.push_back(std::move(*tempo));
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
}

void KestranoController::sendOSCMessageForPosition(float position) {
    currentPosition_ = position;
    chains_.front()->sendForPosition(position, clock_());
}

void KestranoController::sendValue(MappingChain& chain, float value, Destination::Kind kind) {
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + chain.address()));
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    // A value held over an outage is told of when it goes.
    if (destination_.send(message, kind) == Destination::Delivery::sent) {
        valueSent(*message, chain);
    }
    // A fast turn comes between ticks.
    if (chain.fastResponse()) {
        statusChanged();
    }
}

MappingChain& KestranoController::chainSendingTo(const QVOSCMessage& message) {
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        if ("/zandorex/" + chain->address() == message.address()->address()) {
            return *chain;
        }
    }
    return *chains_.front();
}

void KestranoController::valueSent(const QVOSCMessage& message, MappingChain& chain) {
    const std::vector<std::shared_ptr<QVOSCArgument>> arguments = message.arguments();
    const float value = arguments.front()->floatValue();
    chain.valueSent(value);
    if (&chain == chains_.front().get()) {
        status_.lastValueSent = value;
    }
    ++status_.messagesSent;
    monitor_.record(MonitorEntry::Direction::out,
                    destination_.endpoint().value_or(NetworkEndpoint{}),
                    std::make_shared<const QVOSCData>(message.packetizedData()));
}
