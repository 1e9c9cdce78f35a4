#include "app/control/FragmentLevelRelay.h"

FragmentLevelRelay::FragmentLevelRelay(MainLoop& mainLoop, Receiver receiver)
    : mainLoop_(mainLoop), shared_(std::make_shared<Shared>()) {
    shared_->receiver = std::move(receiver);
}

FragmentLevelRelay::~FragmentLevelRelay() {
    shared_->alive = false;
}

AudioCapture::FragmentLevelHandler FragmentLevelRelay::handler() {
    return [shared = shared_, &mainLoop = mainLoop_](float averagePowerDb, float samplePeakDb) {
        if (shared->pending.fetch_add(1, std::memory_order_acq_rel) >= maximumPending) {
            shared->pending.fetch_sub(1, std::memory_order_acq_rel);
            shared->dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        mainLoop.postToMainThread([shared, averagePowerDb, samplePeakDb] {
            shared->pending.fetch_sub(1, std::memory_order_acq_rel);
            if (shared->alive) {
                shared->receiver(averagePowerDb, samplePeakDb);
            }
        });
    };
}
