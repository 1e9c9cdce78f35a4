#pragma once

#include <functional>
#include <memory>

// A repeating timer on the main loop; invalidation stops it for good.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
};

// The services of the program's main event loop. Every action, posted call and task runs on the
// main thread, one at a time, and keeps running while the user drags a control or holds a menu.
class MainLoop {
  public:
    virtual ~MainLoop() = default;

    // Fires `action` one interval from now and then every interval until invalidated (or the
    // handle is destroyed); a firing that falls due while the loop is busy runs late, not twice.
    // Call on the main thread.
    virtual std::unique_ptr<RepeatingTimer> scheduleRepeatingTimer(
        double intervalSeconds, std::function<void()> action) = 0;

    // Runs `call` once on the main thread, in posting order. Never waits; safe from any thread.
    virtual void postToMainThread(std::function<void()> call) = 0;

    // Runs `task` once on the main thread after the current event. Never waits; any thread.
    virtual void postToMainQueue(std::function<void()> task) = 0;
};
