#include "transport/HostResolver.h"

#include <netdb.h>
#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "transport/NetworkEndpointText.h"

namespace {

// What the worker threads share with the main thread: the loop to post to, for as long as the
// resolver lives.
struct PostingPoint {
    std::mutex lock;
    MainLoop* mainLoop = nullptr;  // guarded by lock; nothing once the resolver is gone
};

HostResolver::Answer lookUp(const std::string& host) {
    HostResolver::Answer answer{host, std::nullopt, {}};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        answer.failure = result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result);
        return answer;
    }
    // Show-control programs often listen on IPv4 only; a name with both kinds goes to IPv4.
    const addrinfo* chosen = nullptr;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET || (entry->ai_family == AF_INET6 && chosen == nullptr)) {
            chosen = entry;
            if (entry->ai_family == AF_INET) {
                break;
            }
        }
    }
    if (chosen == nullptr) {
        answer.failure = "no IPv4 or IPv6 address";
    } else {
        NetworkEndpoint endpoint;
        std::memcpy(&endpoint.address, chosen->ai_addr, chosen->ai_addrlen);
        endpoint.length = chosen->ai_addrlen;
        answer.address = endpoint;
    }
    freeaddrinfo(found);
    return answer;
}

}  // namespace

// Main-thread state; worker threads only carry a weak reference to it back to the main thread.
struct HostResolver::Core : std::enable_shared_from_this<HostResolver::Core> {
    Core(MainLoop& loop, double retry, AnswerHandler onAnswer)
        : mainLoop(loop), retrySeconds(retry), handler(std::move(onAnswer)) {
        postingPoint->mainLoop = &loop;
    }

    void startLookup() {
        lookupRunning = true;
        std::weak_ptr<Core> self = weak_from_this();
        try {
            std::thread([point = postingPoint, self, host = host] {
                pthread_setname_np(pthread_self(), "HostLookup");
                Answer answer = lookUp(host);
                std::lock_guard lock(point->lock);
                if (point->mainLoop != nullptr) {
                    point->mainLoop->postToMainThread([self, answer = std::move(answer)] {
                        if (const auto core = self.lock()) {
                            core->lookupFinished(answer);
                        }
                    });
                }
            }).detach();
        } catch (const std::system_error& error) {
            lookupRunning = false;
            deliver({host, std::nullopt, error.what()});
        }
    }

    void lookupFinished(const Answer& answer) {
        lookupRunning = false;
        if (!wanted) {
            return;
        }
        if (answer.host != host) {
            startLookup();  // asked for another host meanwhile
            return;
        }
        deliver(answer);
    }

    void deliver(const Answer& answer) {
        if (!answer.address) {
            retryTimer = mainLoop.scheduleRepeatingTimer(retrySeconds, [this] {
                retryTimer.reset();
                if (wanted && !lookupRunning) {
                    startLookup();
                }
            });
        }
        handler(answer);
    }

    MainLoop& mainLoop;
    const double retrySeconds;
    const AnswerHandler handler;
    const std::shared_ptr<PostingPoint> postingPoint = std::make_shared<PostingPoint>();
    std::string host;
    bool wanted = false;  // whether `host` still needs an answer
    bool lookupRunning = false;
    std::unique_ptr<RepeatingTimer> retryTimer;
};

HostResolver::HostResolver(MainLoop& mainLoop, double retrySeconds, AnswerHandler handler)
    : core_(std::make_shared<Core>(mainLoop, retrySeconds, std::move(handler))) {}

HostResolver::~HostResolver() {
    cancel();
    std::lock_guard lock(core_->postingPoint->lock);
    core_->postingPoint->mainLoop = nullptr;
}

void HostResolver::resolve(const std::string& host) {
    cancel();
    core_->host = host;
    if (const auto numeric = numericEndpoint(host, 0)) {
        core_->handler({host, numeric, {}});
        return;
    }
    core_->wanted = true;
    if (!core_->lookupRunning) {
        core_->startLookup();
    }
}

void HostResolver::cancel() {
    core_->wanted = false;
    core_->retryTimer.reset();
}
