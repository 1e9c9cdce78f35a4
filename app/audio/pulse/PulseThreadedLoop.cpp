#include "app/audio/pulse/PulseThreadedLoop.h"

#include <pulse/timeval.h>

PulseThreadedLoop::PulseThreadedLoop() : loop_(pa_threaded_mainloop_new()) {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_set_name(loop_, "PulseAudio");
        running_ = pa_threaded_mainloop_start(loop_) == 0;
    }
}

PulseThreadedLoop::~PulseThreadedLoop() {
    if (loop_ == nullptr) {
        return;
    }
    if (running_) {
        pa_threaded_mainloop_stop(loop_);
    }
    pa_threaded_mainloop_free(loop_);
}

pa_mainloop_api* PulseThreadedLoop::api() const {
    return loop_ != nullptr ? pa_threaded_mainloop_get_api(loop_) : nullptr;
}

void PulseThreadedLoop::lock() {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_lock(loop_);
    }
}

void PulseThreadedLoop::unlock() {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_unlock(loop_);
    }
}

void PulseThreadedLoop::signal() {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_signal(loop_, 0);
    }
}

namespace {

struct Deadline {
    pa_threaded_mainloop* loop;
    bool expired = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<Deadline*>(userdata);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

}  // namespace

bool PulseThreadedLoop::waitUntil(const std::function<bool()>& done,
                                  std::chrono::milliseconds timeout) {
    if (!running_ || done()) {
        return done();
    }
    // pa_threaded_mainloop_wait has no timeout of its own: a timer on the loop marks the
    // deadline and wakes the wait like any other signal.
    Deadline deadline{loop_};
    pa_time_event* event = scheduleOnce(timeout, onDeadline, &deadline);
    while (!done() && !deadline.expired) {
        pa_threaded_mainloop_wait(loop_);
    }
    api()->time_free(event);
    return done();
}

pa_time_event* PulseThreadedLoop::scheduleOnce(std::chrono::milliseconds delay,
                                               TimerCallback callback, void* userdata) {
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when,
                   static_cast<pa_usec_t>(
                       std::chrono::duration_cast<std::chrono::microseconds>(delay).count()));
    return api()->time_new(api(), &when, callback, userdata);
}
