#pragma once

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/audio/pulse/PulseSource.h"
#include "app/audio/pulse/PulseThreadedLoop.h"

// The connection to the sound server and what it knows of the server's sources. It connects by
// itself, reconnects after the server went away (or was never there) every 100 ms for two
// seconds, then less and less often down to every 2 s, and
// keeps the source list and the default source up to date from the server's events. Every call
// and every event runs with the loop's lock held.
class PulseServerLink {
  public:
    enum class Event {
        connected,       // the server answers and its sources are known
        sourcesChanged,  // a source came or went, its description changed, or the default did
        lost,            // the server went away; the list is now empty
    };

    // A server that went away usually comes back within a second or two (a restart, a crash
    // restarted by systemd): for the first kSteadyRetries attempts they follow each other
    // closely, so that the level is back soon after it; the wait then grows by half each time up
    // to the longest, so that a server gone for good costs next to nothing. A connection starts
    // the count over.
    static constexpr std::chrono::milliseconds kFirstRetry{100};
    static constexpr int kSteadyRetries = 20;
    static constexpr std::chrono::milliseconds kLongestRetry{2000};

    PulseServerLink(PulseThreadedLoop& loop, std::function<void(Event)> onEvent);
    ~PulseServerLink();
    PulseServerLink(const PulseServerLink&) = delete;
    PulseServerLink& operator=(const PulseServerLink&) = delete;

    void connect();
    // Disconnects for good: no more events, no more attempts.
    void close();

    // True once the first attempt either reached the server and read its sources or failed.
    bool firstAttemptSettled() const { return firstAttemptSettled_; }
    bool isReady() const { return ready_; }
    // The connection while isReady(), else nullptr.
    pa_context* context() const { return ready_ ? context_ : nullptr; }
    // Why the last connection failed or ended.
    const std::string& lastError() const { return lastError_; }

    const std::vector<PulseSource>& sources() const { return sources_; }
    const std::string& defaultSourceName() const { return defaultSourceName_; }

  private:
    static void onStateChanged(pa_context* context, void* userdata);
    static void onServerEvent(pa_context* context, pa_subscription_event_type_t type,
                              uint32_t index, void* userdata);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol,
                             void* userdata);
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                        void* userdata);

    void handleReady();
    void handleFailure();
    void releaseContext();
    void scheduleRetry();
    // Asks for the server info and the source list; a request made while one is under way is
    // merged into one more round after it.
    void requestSnapshot();
    void finishSnapshotPart();
    void publishSnapshot();

    PulseThreadedLoop& loop_;
    std::function<void(Event)> onEvent_;
    pa_context* context_ = nullptr;
    pa_time_event* retryTimer_ = nullptr;
    std::chrono::milliseconds retryDelay_ = kFirstRetry;
    int retries_ = 0;  // since the last connection
    bool closed_ = false;
    bool ready_ = false;
    bool firstAttemptSettled_ = false;
    std::string lastError_;

    std::vector<PulseSource> sources_;
    std::string defaultSourceName_;

    int snapshotPartsPending_ = 0;  // replies still awaited for the snapshot under way
    bool snapshotRequestedAgain_ = false;
    bool snapshotFailed_ = false;
    std::vector<PulseSource> incomingSources_;
    std::string incomingDefaultSourceName_;
};
