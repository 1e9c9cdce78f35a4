#include "app/control/FastTriggerGate.h"

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
}

bool FastTriggerGate::isOn() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->gate.isOn();
}

void FastTriggerGate::resume(bool on) {
    std::lock_guard lock(shared_->mutex);
    shared_->gate = TriggerGate(on);
}

AudioCapture::FragmentLevelHandler FastTriggerGate::handler() {
    return [shared = shared_, &mainLoop = mainLoop_](std::size_t meter, float averagePowerDb,
                                                     float /*samplePeakDb*/) {
        // Only the first mapping's meter drives this gate.
        if (meter != 0) {
            return;
        }
        TriggerGate::Change change = TriggerGate::Change::none;
        {
            std::lock_guard lock(shared->mutex);
            const Conditions& conditions = shared->conditions;
            const float position =
                positionForMeter(meterForLevel(averagePowerDb, conditions.amplification));
            if (!conditions.active) {
                shared->gate.follow(position, conditions.trigger);
                return;
            }
            change = shared->gate.update(position, shared->clock(), conditions.trigger);
        }
        if (change == TriggerGate::Change::none) {
            return;
        }
        if (shared->pending.fetch_add(1, std::memory_order_acq_rel) >= maximumPending) {
            shared->pending.fetch_sub(1, std::memory_order_acq_rel);
            shared->dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        mainLoop.postToMainThread([shared, change] {
            shared->pending.fetch_sub(1, std::memory_order_acq_rel);
            if (shared->alive) {
                shared->receiver(change);
            }
        });
    };
}
