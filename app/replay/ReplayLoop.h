#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/MainLoop.h"

// The main loop of a replay: its time is the recording's, moved on by the replay as it feeds
// the sound, so that every tick falls where the file's frames put it, however fast the machine
// runs through them. Posted calls may come from any thread; timers and advancing belong to the
// replay's own thread.
class ReplayLoop : public MainLoop {
  public:
    ReplayLoop() = default;
    ReplayLoop(const ReplayLoop&) = delete;
    ReplayLoop& operator=(const ReplayLoop&) = delete;

    // Seconds into the recording.
    double now() const { return now_; }
    // Runs what was posted, then each timer's firings due by `seconds`, earliest first (at its
    // due time, each followed by what it posted), and stands at `seconds`.
    void advanceTo(double seconds) { advance(seconds, true); }
    // The same for the firings due before `seconds` only: what arrives at `seconds` is then
    // handed on, and advanceTo(seconds) runs what it posted and the firings due just then.
    void advanceUpTo(double seconds) { advance(seconds, false); }

    std::unique_ptr<RepeatingTimer> scheduleRepeatingTimer(double intervalSeconds,
                                                           std::function<void()> action) override;
    void postToMainThread(std::function<void()> call) override;
    void postToMainQueue(std::function<void()> task) override;

  private:
    struct Timer {
        double interval = 0.0;
        double start = 0.0;
        // Counted rather than summed, so that the hundredth tick falls at 5 s, not beside it.
        long long fired = 0;
        double due() const { return start + static_cast<double>(fired + 1) * interval; }
        std::function<void()> action;
        bool alive = true;
    };
    class Handle;

    void advance(double seconds, bool dueThenToo);
    void runPosted();

    double now_ = 0.0;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;  // guarded by postedMutex_
};
