#include "transport/EventLoop.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

// How long posted calls are gathered after a batch before the main thread runs them.
constexpr auto gatheringTime = std::chrono::microseconds(100);

}  // namespace

struct EventLoop::Timer {
    Clock::duration interval;
    Clock::time_point nextFiring;
    std::function<void()> action;
    std::atomic<bool> valid{true};
};

class EventLoop::TimerHandle : public RepeatingTimer {
  public:
    explicit TimerHandle(std::shared_ptr<Timer> timer) : timer_(std::move(timer)) {}
    ~TimerHandle() override { invalidate(); }
    // The loop drops the timer, and with it the action, at its next pass.
    void invalidate() override { timer_->valid = false; }

  private:
    std::shared_ptr<Timer> timer_;
};

EventLoop::~EventLoop() = default;

std::unique_ptr<RepeatingTimer> EventLoop::scheduleRepeatingTimer(double intervalSeconds,
                                                                  std::function<void()> action) {
    // A zero, negative or NaN interval would spin the loop; a tenth of a millisecond is the least.
    constexpr double shortestInterval = 0.0001;
    const double seconds = std::isnan(intervalSeconds)
                               ? shortestInterval
                               : std::clamp(intervalSeconds, shortestInterval, 1.0e9);
    auto timer = std::make_shared<Timer>();
    timer->interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    timer->nextFiring = Clock::now() + timer->interval;
    timer->action = std::move(action);
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(timer);
    }
    wakeUp_.notify_one();
    return std::make_unique<TimerHandle>(std::move(timer));
}

void EventLoop::postToMainThread(std::function<void()> call) {
    enqueue(std::move(call));
}

void EventLoop::postToMainQueue(std::function<void()> task) {
    enqueue(std::move(task));
}

void EventLoop::enqueue(std::function<void()> call) {
    bool wakeMainThread;
    {
        std::lock_guard lock(mutex_);
        // The main thread only sleeps while the queue is empty, so only the first call must
        // wake it; while it gathers a stream of calls it wakes by itself.
        wakeMainThread = postedCalls_.empty() && !gathering_;
        postedCalls_.push_back(std::move(call));
    }
    if (wakeMainThread) {
        wakeUp_.notify_one();
    }
}

void EventLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quitRequested_ = true;
    }
    wakeUp_.notify_one();
}

void EventLoop::run() {
    runEvents(Clock::time_point::max(), nullptr);
}

bool EventLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    runEvents(Clock::now() + timeout, done);
    return done();
}

void EventLoop::runEvents(Clock::time_point deadline, const std::function<bool()>& done) {
    // Checked before every event, so that a flood of posted calls cannot hold the loop.
    while (!(done && done()) && !quitRequested_.exchange(false) && Clock::now() < deadline) {
        if (!readyCalls_.empty()) {
            auto call = std::move(readyCalls_.front());
            readyCalls_.pop_front();
            call();
        } else if (auto timer = waitForWork(deadline); timer && timer->valid) {
            timer->action();
        }
    }
}

std::shared_ptr<EventLoop::Timer> EventLoop::waitForWork(Clock::time_point deadline) {
    // Dropped timers are destroyed after the lock is released: their actions may hold objects
    // whose destructors post to this loop.
    std::vector<std::shared_ptr<Timer>> dropped;
    std::unique_lock lock(mutex_);
    for (;;) {
        auto firstInvalid = std::stable_partition(
            timers_.begin(), timers_.end(), [](const auto& timer) { return timer->valid.load(); });
        std::move(firstInvalid, timers_.end(), std::back_inserter(dropped));
        timers_.erase(firstInvalid, timers_.end());

        const auto now = Clock::now();
        auto earliest = std::min_element(
            timers_.begin(), timers_.end(),
            [](const auto& a, const auto& b) { return a->nextFiring < b->nextFiring; });
        // Timers come before posted calls, so that a flood of posts cannot starve them.
        if (earliest != timers_.end() && (*earliest)->nextFiring <= now) {
            auto& timer = *earliest;
            timer->nextFiring += timer->interval;
            // A firing that fell due while the loop was busy runs once, late; the missed ones
            // are skipped.
            if (timer->nextFiring <= now) {
                timer->nextFiring = now + timer->interval;
            }
            return timer;
        }
        if (!postedCalls_.empty()) {
            readyCalls_.swap(postedCalls_);
            ranPostedCalls_ = true;
            return nullptr;
        }
        if (quitRequested_ || now >= deadline) {
            return nullptr;
        }
        const auto wakeTime =
            earliest == timers_.end() ? deadline : std::min(deadline, (*earliest)->nextFiring);
        if (ranPostedCalls_) {
            // More calls tend to follow the last ones (a flood of datagrams): they are gathered
            // for a moment without waking this thread for each, which would cost the posting
            // thread a system call per call.
            ranPostedCalls_ = false;
            gathering_ = true;
            wakeUp_.wait_until(lock, std::min(wakeTime, now + gatheringTime));
            gathering_ = false;
        } else if (wakeTime == Clock::time_point::max()) {
            wakeUp_.wait(lock);
        } else {
            wakeUp_.wait_until(lock, wakeTime);
        }
    }
}
