#include "app/control/mapping/FastTriggerGate.h"

#include "app/shaping/LevelPosition.h"

FastTriggerGate::FastTriggerGate(MainLoop& mainLoop, MonotonicClock clock, TurnReceiver receiver)
    : mainLoop_(mainLoop), shared_(std::make_shared<Shared>()) {
    shared_->clock = std::move(clock);
    shared_->receiver = std::move(receiver);
}

FastTriggerGate::~FastTriggerGate() {
    shared_->alive = false;
}

void FastTriggerGate::setConditions(const Conditions& conditions) {
    std::lock_guard lock(shared_->mutex);
    shared_->conditions = conditions;
    shared_->staged.reset();
}

void FastTriggerGate::stageConditions(const Conditions& conditions) {
    std::lock_guard lock(shared_->mutex);
    shared_->staged = conditions;
    ++shared_->stagedCount;
}

bool FastTriggerGate::isOn() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->gate.isOn();
}

void FastTriggerGate::resume(bool on) {
    std::lock_guard lock(shared_->mutex);
    shared_->gate = TriggerGate(on);
    // Turns of before are the past state's; the gate starts again from `on`.
    shared_->pending.clear();
}

uint64_t FastTriggerGate::dropped() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->dropped;
}

void FastTriggerGate::handOn(const std::shared_ptr<Shared>& shared) {
    std::deque<TriggerGate::Change> turns;
    {
        std::lock_guard lock(shared->mutex);
        turns.swap(shared->pending);
        shared->posted = false;
    }
    // Unlocked: the receiver may ask the gate for its state.
    for (const TriggerGate::Change change : turns) {
        if (!shared->alive) {
            return;
        }
        shared->receiver(change);
    }
}

AudioCapture::FragmentLevelHandler FastTriggerGate::handler() {
    uint64_t stagedBefore = 0;
    {
        std::lock_guard lock(shared_->mutex);
        stagedBefore = shared_->stagedCount;
    }
    // The controller hands each gate only its own mapping's meter.
    return [shared = shared_, &mainLoop = mainLoop_, stagedBefore](
               std::size_t /*meter*/, float averagePowerDb, float /*samplePeakDb*/) {
        {
            std::lock_guard lock(shared->mutex);
            if (shared->staged && shared->stagedCount <= stagedBefore) {
                shared->conditions = *shared->staged;
                shared->staged.reset();
            }
            const Conditions& conditions = shared->conditions;
            const float position =
                positionForMeter(meterForLevel(averagePowerDb, conditions.amplification));
            if (!conditions.active) {
                shared->gate.follow(position, conditions.trigger);
                return;
            }
            const TriggerGate::Change change =
                shared->gate.update(position, shared->clock(), conditions.trigger);
            if (change == TriggerGate::Change::none) {
                return;
            }
            if (shared->pending.size() >= maximumPending) {
                // A turn and the one after it leave the peer where it was: dropping the two
                // oldest keeps the newest state and the alternation of what is handed on.
                shared->pending.erase(shared->pending.begin(), shared->pending.begin() + 2);
                shared->dropped += 2;
            }
            shared->pending.push_back(change);
            if (shared->posted) {
                return;
            }
            shared->posted = true;
        }
        mainLoop.postToMainThread([shared] { handOn(shared); });
    };
}
