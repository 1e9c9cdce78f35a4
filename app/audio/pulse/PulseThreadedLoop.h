#pragma once

#include <pulse/thread-mainloop.h>

#include <chrono>
#include <functional>

// libpulse's own thread with its event loop. Everything that touches the server runs either in a
// callback on that thread or on another thread holding the loop's lock (lock()/unlock(), usable
// with std::lock_guard; the lock is recursive). The loop thread holds the lock only while it runs
// callbacks, never while it waits for the server, so taking it is quick.
class PulseThreadedLoop {
  public:
    using TimerCallback = void (*)(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*);

    PulseThreadedLoop();
    // Stops the thread; call without holding the lock.
    ~PulseThreadedLoop();
    PulseThreadedLoop(const PulseThreadedLoop&) = delete;
    PulseThreadedLoop& operator=(const PulseThreadedLoop&) = delete;

    // False when the thread could not be started; the loop then never calls back.
    bool isRunning() const { return running_; }
    pa_mainloop_api* api() const;

    void lock();
    void unlock();

    // With the lock held, from the loop thread: wakes waitUntil().
    void signal();
    // With the lock held, from any thread but the loop's: waits until `done` holds or `timeout`
    // has passed (the lock is released meanwhile); returns the last answer of `done`.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // With the lock held: calls `callback` once on the loop thread after `delay`. The event stays
    // allocated, fired or not, until it is freed with api()->time_free.
    pa_time_event* scheduleOnce(std::chrono::milliseconds delay, TimerCallback callback,
                                void* userdata);

  private:
    pa_threaded_mainloop* loop_;
    bool running_ = false;
};
