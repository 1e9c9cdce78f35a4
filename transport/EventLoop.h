#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/MainLoop.h"

// A main loop made of the standard library alone, for the command-line tools and the tests.
// Its main thread is the thread that calls run() or runUntil().
class EventLoop : public MainLoop {
  public:
    using Clock = std::chrono::steady_clock;

    EventLoop() = default;
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    std::unique_ptr<RepeatingTimer> scheduleRepeatingTimer(double intervalSeconds,
                                                           std::function<void()> action) override;
    void postToMainThread(std::function<void()> call) override;
    void postToMainQueue(std::function<void()> task) override;

    // Runs timers and posted calls until quit() is called.
    void run();
    // Makes run() return after the event that is running now; safe from any thread.
    void quit();
    // Runs the loop until `done` holds (checked before each event) or `timeout` has passed, and
    // returns the last answer of `done`.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  private:
    struct Timer;
    class TimerHandle;

    // Runs events until `done` holds, quit() is called or `deadline` passes.
    void runEvents(Clock::time_point deadline, const std::function<bool()>& done);
    // Waits for the next due timer, which it returns, or for posted calls, which it moves to
    // readyCalls_ (returning nothing); also returns nothing on quit or at `deadline`.
    std::shared_ptr<Timer> waitForWork(Clock::time_point deadline);
    void enqueue(std::function<void()> call);

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::deque<std::function<void()>> postedCalls_;  // guarded by mutex_
    std::vector<std::shared_ptr<Timer>> timers_;     // guarded by mutex_
    std::atomic<bool> quitRequested_ = false;        // set under mutex_, so that a waiter sees it
    bool gathering_ = false;                         // guarded by mutex_
    // Posted calls taken out in one batch, run one by one on the main thread.
    std::deque<std::function<void()>> readyCalls_;
    bool ranPostedCalls_ = false;
};
