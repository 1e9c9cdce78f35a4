#include "app/replay/ReplayLoop.h"

#include <algorithm>

class ReplayLoop::Handle : public RepeatingTimer {
  public:
    explicit Handle(std::shared_ptr<Timer> timer) : timer_(std::move(timer)) {}
    ~Handle() override { invalidate(); }
    void invalidate() override { timer_->alive = false; }

  private:
    std::shared_ptr<Timer> timer_;
};

std::unique_ptr<RepeatingTimer> ReplayLoop::scheduleRepeatingTimer(double intervalSeconds,
                                                                   std::function<void()> action) {
    // A timer that never moves on would hold the replay at one instant for ever.
    const double interval = std::max(intervalSeconds, 1e-3);
    auto timer = std::make_shared<Timer>(Timer{interval, now_, 0, std::move(action)});
    timers_.push_back(timer);
    return std::make_unique<Handle>(std::move(timer));
}

void ReplayLoop::postToMainThread(std::function<void()> call) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(call));
}

void ReplayLoop::postToMainQueue(std::function<void()> task) {
    postToMainThread(std::move(task));
}

void ReplayLoop::runPosted() {
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(postedMutex_);
            if (posted_.empty()) {
                return;
            }
            call = std::move(posted_.front());
            posted_.pop_front();
        }
        call();
    }
}

void ReplayLoop::advance(double seconds, bool dueThenToo) {
    for (;;) {
        runPosted();
        std::erase_if(timers_, [](const auto& timer) { return !timer->alive; });
        // The earliest firing due; of two due at once, the older timer's.
        const auto next = std::min_element(
            timers_.begin(), timers_.end(),
            [](const auto& one, const auto& other) { return one->due() < other->due(); });
        if (next == timers_.end() || (*next)->due() > seconds ||
            (!dueThenToo && (*next)->due() == seconds)) {
            break;
        }
        const std::shared_ptr<Timer> timer = *next;
        now_ = std::max(now_, timer->due());
        ++timer->fired;
        timer->action();
    }
    now_ = std::max(now_, seconds);
    runPosted();
}
