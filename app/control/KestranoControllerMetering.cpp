// The tick: level to meter, meter to position, position to the message for Zandorex.
#include "app/control/KestranoController.h"
#include "app/control/StatusText.h"
#include "app/shaping/LevelPosition.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"

namespace {

// The mean of a meter's channels in dBFS, as the tick's figure; nothing without one.
std::optional<float> averageOf(const std::vector<float>& levels) {
    if (levels.empty()) {
        return std::nullopt;
    }
    float sum = 0.0f;
    for (const float level : levels) {
        sum += level;
    }
    return sum / static_cast<float>(levels.size());
}

}  // namespace

void KestranoController::updateAudioLevels() {
    reportDroppedDatagrams();
    // The take of every meter; each mapping then reads its own.
    session_->channelAveragePowerLevels();
    const std::vector<MeterReading> readings = session_->meterReadings();
    const MonotonicTime now = clock_();
    for (size_t index = 0; index < chains_.size(); ++index) {
        const MeterReading reading = index < readings.size() ? readings[index] : MeterReading{};
        chains_[index]->levelArrived(averageOf(reading.levels), reading.samplePeak, now);
    }
    const MappingStatus& first = chains_.front()->status();
    showCaptureFigures(first.inputLevel);
    if (first.meter) {
        currentPosition_ = positionForMeter(*first.meter);
    }
    if (audioLevelMeter_ != nullptr) {
        audioLevelMeter_->setValue(first.meter.value_or(0.0f));
    }
    showMappings();
    statusChanged();
}

void KestranoController::showMappings() {
    status_.mappings.clear();
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        status_.mappings.push_back(chain->status());
    }
    status_.sharedAddresses = sharedAddresses(status_.mappings);
    const MappingStatus& first = status_.mappings.front();
    status_.meter = first.meter;
    status_.inputLevel = first.inputLevel;
    status_.lastValueSent = first.lastValueSent;
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

void KestranoController::sendOSCMessageForPosition(float position) {
    currentPosition_ = position;
    chains_.front()->sendForPosition(position, clock_());
}

void KestranoController::sendValue(MappingChain& chain, float value, Destination::Kind kind) {
    const auto message = std::make_shared<QVOSCMessage>(
        QVOSCAddress::addressWithString("/zandorex/" + chain.address()));
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    // A value held over an outage is told of when it goes.
    if (destination_.send(message, kind, chain.slot()) == Destination::Delivery::sent) {
        valueSent(*message, chain);
    }
    // A fast turn comes between ticks, and is seen however short.
    if (chain.fastResponse()) {
        showMappings();
        statusChanged();
    }
}

void KestranoController::valueSent(const QVOSCMessage& message, MappingChain& chain) {
    const std::vector<std::shared_ptr<QVOSCArgument>> arguments = message.arguments();
    const float value = arguments.front()->floatValue();
    chain.valueSent(value);
    status_.lastValueSent = chains_.front()->status().lastValueSent;
    ++status_.messagesSent;
    monitor_.record(MonitorEntry::Direction::out,
                    destination_.endpoint().value_or(NetworkEndpoint{}),
                    std::make_shared<const QVOSCData>(message.packetizedData()));
}
