// The optional settings that shape the position (trigger thresholds and delays, smoothing) and
// the band the capture meters. Each is 0 when not set, and a key holding 0 is as good as absent.
#include <algorithm>

#include "app/control/KestranoController.h"
#include "app/settings/SettingsKeys.h"

namespace {

constexpr float defaultTriggerThreshold = 0.5f;

// Writes `value` unless it is 0 and nothing is stored: a technician who never touched a setting
// keeps a file without its key.
template <typename Number, typename Write>
void saveUnlessAbsent(PreferencesStore& store, std::string_view key, Number value, Write write) {
    if (value != 0 || store.stringForKey(key)) {
        (store.*write)(key, value);
    }
}

}  // namespace

void KestranoController::loadShapingSettings() {
    namespace keys = settings_keys;
    const auto milliseconds = [this](std::string_view key) {
        return static_cast<int32_t>(preferences_.integerForKey(key));
    };
    setTriggerOnThreshold(preferences_.floatForKey(keys::triggerOnThreshold));
    setTriggerOffThreshold(preferences_.floatForKey(keys::triggerOffThreshold));
    setTriggerOnDelay(milliseconds(keys::triggerOnDelay));
    setTriggerOffDelay(milliseconds(keys::triggerOffDelay));
    setAttackTime(milliseconds(keys::attackTime));
    setReleaseTime(milliseconds(keys::releaseTime));
    setBandLowCut(preferences_.floatForKey(keys::bandLowCut));
    setBandHighCut(preferences_.floatForKey(keys::bandHighCut));
}

void KestranoController::saveShapingSettings() {
    namespace keys = settings_keys;
    PreferencesStore& store = preferences_;
    saveUnlessAbsent(store, keys::triggerOnThreshold, triggerOnThreshold_,
                     &PreferencesStore::setFloat);
    saveUnlessAbsent(store, keys::triggerOffThreshold, triggerOffThreshold_,
                     &PreferencesStore::setFloat);
    saveUnlessAbsent(store, keys::triggerOnDelay, int64_t{triggerOnDelay_},
                     &PreferencesStore::setInteger);
    saveUnlessAbsent(store, keys::triggerOffDelay, int64_t{triggerOffDelay_},
                     &PreferencesStore::setInteger);
    saveUnlessAbsent(store, keys::attackTime, int64_t{attackTime_}, &PreferencesStore::setInteger);
    saveUnlessAbsent(store, keys::releaseTime, int64_t{releaseTime_},
                     &PreferencesStore::setInteger);
    saveUnlessAbsent(store, keys::bandLowCut, bandLowCut_, &PreferencesStore::setFloat);
    saveUnlessAbsent(store, keys::bandHighCut, bandHighCut_, &PreferencesStore::setFloat);
}

TriggerSettings KestranoController::triggerSettings() const {
    TriggerSettings settings;
    settings.onThreshold =
        triggerOnThreshold_ > 0.0f ? triggerOnThreshold_ : defaultTriggerThreshold;
    // An off threshold above the on threshold would turn the trigger off while it is still on.
    settings.offThreshold = triggerOffThreshold_ > 0.0f
                                ? std::min(triggerOffThreshold_, settings.onThreshold)
                                : settings.onThreshold;
    settings.onDelay = std::chrono::milliseconds(std::max(triggerOnDelay_, 0));
    settings.offDelay = std::chrono::milliseconds(std::max(triggerOffDelay_, 0));
    return settings;
}

void KestranoController::setTriggerOnThreshold(float threshold) {
    triggerOnThreshold_ = threshold;
    propertyChanged(ControllerProperty::triggerOnThreshold);
}

void KestranoController::setTriggerOffThreshold(float threshold) {
    triggerOffThreshold_ = threshold;
    propertyChanged(ControllerProperty::triggerOffThreshold);
}

void KestranoController::setTriggerOnDelay(int32_t milliseconds) {
    triggerOnDelay_ = milliseconds;
    propertyChanged(ControllerProperty::triggerOnDelay);
}

void KestranoController::setTriggerOffDelay(int32_t milliseconds) {
    triggerOffDelay_ = milliseconds;
    propertyChanged(ControllerProperty::triggerOffDelay);
}

void KestranoController::setAttackTime(int32_t milliseconds) {
    attackTime_ = milliseconds;
    propertyChanged(ControllerProperty::attackTime);
}

void KestranoController::setReleaseTime(int32_t milliseconds) {
    releaseTime_ = milliseconds;
    propertyChanged(ControllerProperty::releaseTime);
}

void KestranoController::setBandLowCut(float hertz) {
    bandLowCut_ = hertz;
    session_->setBand(bandLowCut_, bandHighCut_);
    propertyChanged(ControllerProperty::bandLowCut);
}

void KestranoController::setBandHighCut(float hertz) {
    bandHighCut_ = hertz;
    session_->setBand(bandLowCut_, bandHighCut_);
    propertyChanged(ControllerProperty::bandHighCut);
}
