#include "app/control/tempo/TempoSending.h"

#include <chrono>
#include <future>

#include "app/audio/MissingChannelText.h"
#include "app/settings/SettingsKeys.h"
#include "app/settings/values/InputChannels.h"
#include "osc/QVOSCAddress.h"
#include "transport/SystemLog.h"

namespace keys = settings_keys;

namespace {

// Two seconds of sound at the highest rates: a tracker that falls that far behind works on the
// newest sound rather than on an ever older one.
constexpr std::size_t tempoTapFrames = 192000 * 2;

// Opened once, on a thread of its own, when the tempo is first detected, and kept.
const std::shared_future<BeatModule>& beatModule() {
    static const std::shared_future<BeatModule> opened = std::async(std::launch::async, [] {
                                                             const std::vector<std::string> paths =
                                                                 beatModulePaths();
                                                             return openBeatModule(paths);
                                                         }).share();
    return opened;
}

bool loaded(const std::shared_future<BeatModule>& module) {
    return module.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TempoMode modeOf(const std::optional<std::string>& text) {
    if (text == "detect") {
        return TempoMode::detect;
    }
    return text == "tap" ? TempoMode::tap : TempoMode::off;
}

}  // namespace

TempoSending::TempoSending(const SettingsModel& settings, MainLoop& mainLoop, MonotonicClock clock,
                           AudioCapture& capture, Destination& destination,
                           ControllerStatus& status, Hooks hooks)
    : settings_(settings),
      mainLoop_(mainLoop),
      capture_(capture),
      destination_(destination),
      status_(status),
      hooks_(std::move(hooks)),
      tempoClock_(mainLoop, std::move(clock), clockHooks()) {}

TempoSending::~TempoSending() {
    alive_.reset();
    if (moduleWaiter_.joinable()) {
        moduleWaiter_.join();
    }
}

TempoClock::Hooks TempoSending::clockHooks() {
    return {
        [this](float bpm) { send(keys::tempoAddress, QVOSCArgument::argumentWithFloat(bpm)); },
        [this](int32_t count) { send(keys::beatAddress, QVOSCArgument::argumentWithInt(count)); },
        [this] {
            if (tempoClock_.mode() != TempoMode::off) {
                status_.tempo = tempoClock_.status();
            }
            hooks_.changed();
        },
    };
}

void TempoSending::settingChanged(std::string_view key) {
    if (key == keys::tempo) {
        takeMode();
    } else if (key == keys::tempoMinimum) {
        tempoClock_.setMinimum(settings_.decimal(keys::tempoMinimum));
    } else if ((key == keys::tempoChannels || key == keys::inputChannels) && beatTracker_ &&
               tempoTap_->channels() != trackedChannels()) {
        // A tracker of other channels starts afresh; one whose channels stay, such as one set
        // by tempoChannels while the first mapping's change, keeps its beats.
        stopBeatTracker();
        startBeatTracker();
    }
}

void TempoSending::takeMode() {
    const TempoMode mode = modeOf(settings_.text(keys::tempo));
    stopBeatTracker();
    status_.tempoNote.clear();
    tempoClock_.setMinimum(settings_.decimal(keys::tempoMinimum));
    tempoClock_.setMode(mode);
    status_.tempo = mode == TempoMode::off ? std::nullopt : std::optional(tempoClock_.status());
    if (mode == TempoMode::detect) {
        startBeatTracker();
    }
    hooks_.changed();
}

std::vector<unsigned> TempoSending::trackedChannels() const {
    const std::optional<std::string> channels = settings_.text(keys::tempoChannels);
    return parseInputChannels(channels ? *channels
                                       : settings_.text(keys::inputChannels).value_or(""))
        .value_or(std::vector<unsigned>());
}

void TempoSending::startBeatTracker() {
    trackerToken_ = std::make_shared<int>(0);
    // A replay waits for the module: its sound waits for nothing, and would pass unheard.
    if (!loaded(beatModule()) && capture_.realTime()) {
        status_.tempoNote = "tempo detection starting";
        if (!moduleWaiter_.joinable()) {
            moduleWaiter_ = std::thread([this, alive = std::weak_ptr<int>(alive_)] {
                beatModule().wait();
                mainLoop_.postToMainThread([this, alive] {
                    // Still asked for: the mode did not change meanwhile.
                    if (alive.lock() && trackerToken_ && !beatTracker_) {
                        status_.tempoNote.clear();
                        startBeatTracker();
                        hooks_.changed();
                    }
                });
            });
        }
        return;
    }
    const BeatModule& module = beatModule().get();
    if (!module.functions) {
        status_.tempoNote = "tempo detection unavailable: " + module.error;
        systemLog(status_.tempoNote);
        return;
    }
    tempoTap_ = std::make_shared<SoundTap>(trackedChannels(), tempoTapFrames);
    beatTracker_ = std::make_unique<BeatTracker>(
        module.functions, tempoTap_, settings_.decimal(keys::tempoMinimum),
        [this, token = std::weak_ptr<int>(trackerToken_)] {
            mainLoop_.postToMainThread([this, token] {
                if (token.lock() && beatTracker_) {
                    const BeatTracker::State state = beatTracker_->state();
                    tempoClock_.trackerState(state.grid, state.silent, state.unsure);
                }
            });
        },
        capture_.realTime() ? BeatTracker::Pace::ownThread : BeatTracker::Pace::asWritten);
    capture_.addSoundTap(tempoTap_);
}

void TempoSending::stopBeatTracker() {
    trackerToken_.reset();
    if (!beatTracker_) {
        return;
    }
    capture_.removeSoundTap(tempoTap_);
    beatTracker_.reset();
    tempoTap_.reset();
}

std::optional<std::string> TempoSending::channelsNote() const {
    // Channels the tempo takes from inputChannels are the first mapping's note already.
    const std::optional<AudioDevice> input = capture_.currentInput();
    const auto missing = tempoTap_ ? tempoTap_->missingChannel() : std::nullopt;
    if (!input || !missing || !settings_.text(keys::tempoChannels)) {
        return std::nullopt;
    }
    return missingChannelText(keys::tempoChannels, input->description, missing->inputChannels,
                              missing->channel) +
           (missing->everyChannel ? "; the tempo listens to every channel" : "");
}

void TempoSending::tap() {
    if (tempoClock_.tap() || tempoClock_.mode() != TempoMode::detect ||
        !status_.tempoNote.empty()) {
        return;
    }
    status_.tempoNote = "tap ignored: tempo is detect (set tempo=tap to tap)";
    if (!tapIgnoredLogged_) {
        tapIgnoredLogged_ = true;
        systemLog(status_.tempoNote);
    }
    hooks_.changed();
}

void TempoSending::send(std::string_view addressKey, std::shared_ptr<QVOSCArgument> argument) {
    const std::string address = settings_.text(addressKey).value_or(std::string());
    const auto message =
        std::make_shared<QVOSCMessage>(QVOSCAddress::addressWithString("/zandorex/" + address));
    message->attachArgument(std::move(argument));
    // A beat is worth nothing late: none is held over an outage. The newest tempo is, like a
    // trigger's turn, so that Zandorex learns a tempo found while it was away.
    const Destination::Kind kind = addressKey == keys::tempoAddress ? Destination::Kind::trigger
                                                                    : Destination::Kind::continuous;
    if (destination_.send(message, kind) == Destination::Delivery::sent) {
        hooks_.sent(*message);
    }
}

bool TempoSending::isTempoMessage(const QVOSCMessage& message) const {
    return message.address()->address() ==
           "/zandorex/" + settings_.text(keys::tempoAddress).value_or(std::string());
}
