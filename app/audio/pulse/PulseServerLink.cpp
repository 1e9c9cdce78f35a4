#include "app/audio/pulse/PulseServerLink.h"

#include <pulse/error.h>

#include <algorithm>

namespace {

std::chrono::milliseconds nextRetry(std::chrono::milliseconds retry) {
    return std::min(PulseServerLink::kLongestRetry, retry + retry / 2);
}

bool sameDevices(const std::vector<PulseSource>& a, const std::vector<PulseSource>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(),
        [](const PulseSource& x, const PulseSource& y) { return x.device == y.device; });
}

}  // namespace

PulseServerLink::PulseServerLink(PulseThreadedLoop& loop, std::function<void(Event)> onEvent)
    : loop_(loop), onEvent_(std::move(onEvent)) {}

PulseServerLink::~PulseServerLink() {
    close();
}

void PulseServerLink::connect() {
    if (closed_ || context_ != nullptr) {
        return;
    }
    if (!loop_.isRunning()) {
        lastError_ = "the audio thread could not be started";
        firstAttemptSettled_ = true;
        return;
    }
    pa_context* context = pa_context_new(loop_.api(), "Kestrano");
    if (context == nullptr) {
        lastError_ = "cannot create a sound server connection";
        firstAttemptSettled_ = true;
        scheduleRetry();
        return;
    }
    context_ = context;
    pa_context_set_state_callback(context, onStateChanged, this);
    // No autospawn: a level meter must not start a sound server of its own.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 &&
        context_ == context) {
        // Usually the state callback has already reported the failure; if not, do it here.
        handleFailure();
    }
}

void PulseServerLink::close() {
    closed_ = true;
    if (retryTimer_ != nullptr) {
        loop_.api()->time_free(retryTimer_);
        retryTimer_ = nullptr;
    }
    ready_ = false;
    releaseContext();
}

void PulseServerLink::onStateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseServerLink*>(userdata);
    if (context != self->context_) {
        return;
    }
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->handleReady();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->handleFailure();
            break;
        default:
            break;
    }
}

void PulseServerLink::handleReady() {
    pa_context_set_subscribe_callback(context_, onServerEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                          PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
    requestSnapshot();
}

void PulseServerLink::handleFailure() {
    lastError_ = pa_strerror(pa_context_errno(context_));
    const bool wasReady = ready_;
    ready_ = false;
    sources_.clear();
    defaultSourceName_.clear();
    snapshotPartsPending_ = 0;
    snapshotRequestedAgain_ = false;
    firstAttemptSettled_ = true;
    loop_.signal();
    // Told while the old connection still exists, so that its streams are released first.
    if (wasReady) {
        onEvent_(Event::lost);
    }
    releaseContext();
    scheduleRetry();
}

void PulseServerLink::releaseContext() {
    if (context_ == nullptr) {
        return;
    }
    pa_context* context = context_;
    context_ = nullptr;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void PulseServerLink::scheduleRetry() {
    if (closed_ || retryTimer_ != nullptr) {
        return;
    }
    retryTimer_ = loop_.scheduleOnce(retryDelay_, onRetry, this);
    if (++retries_ >= kSteadyRetries) {
        retryDelay_ = nextRetry(retryDelay_);
    }
}

void PulseServerLink::onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                              void* userdata) {
    auto* self = static_cast<PulseServerLink*>(userdata);
    api->time_free(event);
    self->retryTimer_ = nullptr;
    self->connect();
}

void PulseServerLink::onServerEvent(pa_context* context, pa_subscription_event_type_t type,
                                    uint32_t, void* userdata) {
    auto* self = static_cast<PulseServerLink*>(userdata);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (context == self->context_ &&
        (facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SERVER)) {
        self->requestSnapshot();
    }
}

void PulseServerLink::requestSnapshot() {
    if (context_ == nullptr) {
        return;
    }
    if (snapshotPartsPending_ > 0) {
        snapshotRequestedAgain_ = true;
        return;
    }
    incomingSources_.clear();
    incomingDefaultSourceName_.clear();
    snapshotFailed_ = false;
    for (pa_operation* operation :
         {pa_context_get_server_info(context_, onServerInfo, this),
          pa_context_get_source_info_list(context_, onSourceInfo, this)}) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
            ++snapshotPartsPending_;
        } else {
            // The connection is failing; its state callback follows.
            snapshotFailed_ = true;
        }
    }
}

void PulseServerLink::onServerInfo(pa_context* context, const pa_server_info* info,
                                   void* userdata) {
    auto* self = static_cast<PulseServerLink*>(userdata);
    if (context != self->context_) {
        return;
    }
    if (info == nullptr) {
        self->snapshotFailed_ = true;
    } else if (info->default_source_name != nullptr) {
        self->incomingDefaultSourceName_ = info->default_source_name;
    }
    self->finishSnapshotPart();
}

void PulseServerLink::onSourceInfo(pa_context* context, const pa_source_info* info, int eol,
                                   void* userdata) {
    auto* self = static_cast<PulseServerLink*>(userdata);
    if (context != self->context_) {
        return;
    }
    if (eol != 0 || info == nullptr) {
        self->snapshotFailed_ = self->snapshotFailed_ || eol < 0;
        self->finishSnapshotPart();
        return;
    }
    PulseSource source;
    source.device.name = info->name != nullptr ? info->name : "";
    source.device.description =
        info->description != nullptr ? info->description : source.device.name;
    source.sampleSpec = info->sample_spec;
    source.channelMap = info->channel_map;
    self->incomingSources_.push_back(std::move(source));
}

void PulseServerLink::finishSnapshotPart() {
    if (--snapshotPartsPending_ > 0) {
        return;
    }
    if (snapshotRequestedAgain_) {
        snapshotRequestedAgain_ = false;
        requestSnapshot();
    } else if (!snapshotFailed_) {
        publishSnapshot();
    }
}

void PulseServerLink::publishSnapshot() {
    const bool devicesChanged = !sameDevices(sources_, incomingSources_) ||
                                defaultSourceName_ != incomingDefaultSourceName_;
    sources_ = std::move(incomingSources_);
    defaultSourceName_ = std::move(incomingDefaultSourceName_);
    incomingSources_.clear();
    incomingDefaultSourceName_.clear();
    if (!ready_) {
        ready_ = true;
        retryDelay_ = kFirstRetry;
        retries_ = 0;
        firstAttemptSettled_ = true;
        loop_.signal();
        onEvent_(Event::connected);
    } else if (devicesChanged) {
        onEvent_(Event::sourcesChanged);
    }
}
