#include "app/shaping/TriggerGate.h"

bool TriggerGate::wantsToTurn(float position, const TriggerSettings& settings) const {
    if (settings.silence) {
        return on_ ? position >= settings.offThreshold : position < settings.onThreshold;
    }
    return on_ ? position < settings.offThreshold : position >= settings.onThreshold;
}

TriggerGate::Change TriggerGate::update(float position, MonotonicTime now,
                                        const TriggerSettings& settings) {
    lastUpdate_ = now;
    if (!wantsToTurn(position, settings)) {
        pastThresholdSince_.reset();
        return Change::none;
    }
    if (!pastThresholdSince_) {
        pastThresholdSince_ = now;
    }
    if (now - *pastThresholdSince_ < (on_ ? settings.offDelay : settings.onDelay)) {
        return Change::none;
    }
    pastThresholdSince_.reset();
    on_ = !on_;
    return on_ ? Change::turnedOn : Change::turnedOff;
}

void TriggerGate::follow(float position, const TriggerSettings& settings) {
    pastThresholdSince_.reset();
    if (wantsToTurn(position, settings)) {
        on_ = !on_;
    }
}

void TriggerGate::noSound(MonotonicTime now) {
    if (pastThresholdSince_ && lastUpdate_) {
        *pastThresholdSince_ += now - *lastUpdate_;
    }
    lastUpdate_ = now;
}
