#include "app/control/mapping/MappingChain.h"

#include <utility>

#include "app/control/mapping/MappingSettings.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/values/InputChannels.h"
#include "app/shaping/LevelPosition.h"

namespace keys = settings_keys;

namespace {

// Chains made so far, on the main thread: each one's slot is its own.
uint64_t chainsMade = 0;

}  // namespace

MappingChain::MappingChain(std::string name, const SettingsModel& settings, MainLoop& mainLoop,
                           MonotonicClock clock, Hooks hooks)
    : name_(std::move(name)),
      slot_("mapping " + std::to_string(++chainsMade)),
      settings_(settings),
      hooks_(std::move(hooks)),
      fastGate_(mainLoop, std::move(clock),
                [this](TriggerGate::Change change) { fastTurned(change); }) {
    status_.name = name_;
    takeSettings();
    subscription_ = settings_.subscribe([this](std::string_view key) { settingChanged(key); });
}

void MappingChain::rename(std::string name) {
    name_ = std::move(name);
    status_.name = name_;
    takeSettings();
}

bool MappingChain::active() const {
    return settings_.flag(key(keys::active));
}

int64_t MappingChain::mode() const {
    // A settings file may hold any whole number; all but the named modes mean trigger.
    const int64_t mode = settings_.whole(key(keys::type));
    return mode == continuousMode || mode == silenceMode ? mode : triggerMode;
}

float MappingChain::amplification() const {
    return settings_.decimal(key(keys::volumeAmplification));
}

float MappingChain::minValue() const {
    return settings_.decimal(key(keys::minValue));
}

float MappingChain::maxValue() const {
    return settings_.decimal(key(keys::maxValue));
}

std::string MappingChain::address() const {
    return mappingAddress(settings_, name_);
}

MeterSettings MappingChain::meterSettings() const {
    return {parseInputChannels(settings_.text(key(keys::inputChannels)).value_or(std::string()))
                .value_or(std::vector<unsigned>()),
            settings_.decimal(key(keys::bandLowCut)),
            settings_.decimal(key(keys::bandHighCut)),
            fastResponse_,
            key(keys::inputChannels),
            slot_};
}

void MappingChain::settingChanged(std::string_view changedKey) {
    const std::optional<ScopedKey> scoped = parseScopedKey(changedKey);
    if (!scoped || scoped->mapping != name_ || scoped->setting->scope != SettingScope::mapping) {
        return;
    }
    takeSettings();
    const std::string_view setting = scoped->setting->key;
    if (setting == keys::inputChannels || setting == keys::bandLowCut ||
        setting == keys::bandHighCut) {
        hooks_.meteringChanged();
    }
}

void MappingChain::takeSettings() {
    shaping_.setSettings(shapingSettingsOf(settings_, name_));
    status_.continuous = mode() == continuousMode;
    status_.address = address();
    if (lit_ && lit_->address != status_.address) {
        // The cue at the old address goes off; at the new one the gate decides afresh.
        closeTurn();
        shaping_.resumeTrigger(false);
        if (fastResponse_) {
            fastGate_.resume(false);
        }
        fastOnHandedOn_ = false;
        status_.on = false;
    }
    if (fastResponse_) {
        if (holdingConditions_) {
            fastGate_.stageConditions(gateConditions());
        } else {
            fastGate_.setConditions(gateConditions());
        }
    }
    takeResponse();
}

FastTriggerGate::Conditions MappingChain::gateConditions() const {
    return {shaping_.settings().trigger, amplification(), active()};
}

void MappingChain::releaseConditions(bool applied) {
    holdingConditions_ = false;
    if (!applied && fastResponse_) {
        fastGate_.setConditions(gateConditions());
    }
}

void MappingChain::closeTurn() {
    if (const std::optional<LitTurn> turn = std::exchange(lit_, std::nullopt)) {
        hooks_.send(*this, turn->address, turn->offValue, Destination::Kind::trigger);
    }
}

void MappingChain::takeResponse() {
    const bool fast =
        mode() != continuousMode && settings_.text(key(keys::triggerResponse)) == "fast";
    // Only on a change: the capture opens its streams again for it.
    if (fast == fastResponse_) {
        return;
    }
    fastResponse_ = fast;
    if (fast) {
        // A gate the capture does not feed yet may take its conditions now.
        fastGate_.setConditions(gateConditions());
        fastGate_.resume(shaping_.triggerIsOn());
        fastOnHandedOn_ = shaping_.triggerIsOn();
        hooks_.meteringChanged();
    } else {
        // The tick's gate goes on from what the peer heard: a turn of the fast gate still on its
        // way is dropped, and the tick's own level decides the next turn.
        hooks_.meteringChanged();
        shaping_.resumeTrigger(fastOnHandedOn_);
    }
}

void MappingChain::levelArrived(std::optional<float> averagePowerDb,
                                std::optional<float> samplePeakDb, MonotonicTime now) {
    status_.inputLevel = averagePowerDb;
    status_.samplePeak = samplePeakDb;
    status_.meter.reset();
    status_.position.reset();
    // Without a level there is no position: nothing is sent, no gate moves, and the time counts
    // toward no delay.
    if (!averagePowerDb) {
        shaping_.noSound(now);
        return;
    }
    const float meter = meterForLevel(*averagePowerDb, amplification());
    status_.meter = meter;
    status_.position = positionForMeter(meter);
    sendForPosition(*status_.position, now);
}

void MappingChain::sendForPosition(float position, MonotonicTime now) {
    const float smoothed = shaping_.smooth(position, now);
    // In fast response the gate runs on the capture's thread, fragment by fragment.
    if (fastResponse_) {
        status_.on = fastOnHandedOn_;
        return;
    }
    if (!active()) {
        shaping_.follow(position);
    } else if (mode() == continuousMode) {
        shaping_.follow(position);
        hooks_.send(*this, status_.address, (1.0f - smoothed) * minValue() + maxValue() * smoothed,
                    Destination::Kind::continuous);
    } else {
        sendTurn(shaping_.turn(position, now));
    }
    status_.on = shaping_.triggerIsOn();
}

bool MappingChain::sendTurn(TriggerGate::Change change) {
    switch (change) {
        case TriggerGate::Change::turnedOn:
            lit_ = LitTurn{status_.address, minValue()};
            hooks_.send(*this, status_.address, maxValue(), Destination::Kind::trigger);
            return true;
        case TriggerGate::Change::turnedOff:
            lit_.reset();
            hooks_.send(*this, status_.address, minValue(), Destination::Kind::trigger);
            return true;
        case TriggerGate::Change::none:
            break;
    }
    return false;
}

void MappingChain::fastTurned(TriggerGate::Change change) {
    // A turn posted before the response went back to the tick belongs to the tick's gate now.
    if (!fastResponse_) {
        return;
    }
    fastOnHandedOn_ = change == TriggerGate::Change::turnedOn;
    // Before the send, which shows the status: the lamp lights with the turn it shows.
    status_.on = fastOnHandedOn_;
    if (active()) {
        sendTurn(change);
    }
}
