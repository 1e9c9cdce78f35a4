#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"

// Finds the address of a host name without ever blocking the main thread: numeric addresses
// at once, names on a worker thread whose answer comes back through the main loop. A name that
// does not resolve is looked up again every `retrySeconds` until it does; each failure is
// reported. One lookup runs at a time: a request made meanwhile waits for it, and only the
// latest such request is kept, so a slow name server costs one thread, never more.
class HostResolver {
  public:
    struct Answer {
        std::string host;
        // Port 0; the caller sets its own. An IPv4 address where the name has one.
        std::optional<NetworkEndpoint> address;
        // Why there is no address, e.g. "Name or service not known".
        std::string failure;
    };
    using AnswerHandler = std::function<void(const Answer&)>;

    // `handler` runs on the main thread, also from within resolve() for a numeric address.
    HostResolver(MainLoop& mainLoop, double retrySeconds, AnswerHandler handler);
    // Never waits for a lookup; its answer is dropped.
    ~HostResolver();
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // Main thread. Replaces the host asked for before: an answer for that one is dropped.
    void resolve(const std::string& host);
    // Main thread. Stops looking; an answer still on its way is dropped.
    void cancel();

  private:
    struct Core;
    std::shared_ptr<Core> core_;
};
