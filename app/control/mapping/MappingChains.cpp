#include "app/control/mapping/MappingChains.h"

#include <algorithm>
#include <iterator>

#include "app/control/StatusText.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"

namespace {

// The mean of a meter's channels in dBFS, as the tick's figure; nothing without one.
std::optional<float> averageOf(const std::vector<float>& levels) {
    if (levels.empty()) {
        return std::nullopt;
    }
    float sum = 0.0f;
    for (const float level : levels) {
        sum += level;
    }
    return sum / static_cast<float>(levels.size());
}

}  // namespace

MappingChains::MappingChains(const SettingsModel& settings, MainLoop& mainLoop,
                             MonotonicClock clock, AudioCapture& capture, Destination& destination,
                             ControllerStatus& status, Hooks hooks)
    : settings_(settings),
      mainLoop_(mainLoop),
      clock_(std::move(clock)),
      capture_(capture),
      destination_(destination),
      status_(status),
      hooks_(std::move(hooks)) {
    chains_.push_back(makeChain(std::string()));
}

std::unique_ptr<MappingChain> MappingChains::makeChain(std::string name) {
    return std::make_unique<MappingChain>(
        std::move(name), settings_, mainLoop_, clock_,
        MappingChain::Hooks{
            [this](MappingChain& chain, const std::string& address, float value,
                   Destination::Kind kind) { sendValue(chain, address, value, kind); },
            // A chain made while the list is being taken waits for the whole list.
            [this] {
                if (metering_ && !takingMappings_ && !holdingMetering_) {
                    applyMetering();
                }
            },
        });
}

void MappingChains::takeMappings() {
    takingMappings_ = true;
    // The unnamed mapping is always listed, first.
    std::vector<std::string> names{std::string()};
    std::ranges::move(settings_.mappingNames(), std::back_inserter(names));
    const auto chainNamed = [this](std::string_view name) {
        return std::find_if(chains_.begin(), chains_.end(),
                            [&](const auto& chain) { return chain && chain->name() == name; });
    };
    std::vector<std::unique_ptr<MappingChain>> kept;
    for (std::string& name : names) {
        auto same = chainNamed(name);
        // A renamed mapping keeps its chain: a gate that is on stays on, and sends no second cue.
        if (const std::optional<std::string> former = settings_.formerName(name);
            same == chains_.end() && former) {
            same = chainNamed(*former);
            if (same != chains_.end()) {
                (*same)->rename(name);
            }
        }
        kept.push_back(same != chains_.end() ? std::move(*same) : makeChain(std::move(name)));
    }
    chains_.swap(kept);
    takingMappings_ = false;
    metering_ = true;
    // A removed mapping's turn held over an outage is not sent when the connection is back; a
    // cue it left lit goes off.
    for (const std::unique_ptr<MappingChain>& gone : kept) {
        if (gone) {
            destination_.forget(gone->slot());
            gone->closeTurn();
        }
    }
    show();
    // The capture stops handing fragments to a gone chain's gate before that gate goes; while a
    // preset is taken, the gone chains wait for the capture's one change at its end.
    if (holdingMetering_) {
        std::ranges::move(kept, std::back_inserter(leavingChains_));
        return;
    }
    applyMetering();
}

void MappingChains::holdMetering() {
    holdingMetering_ = true;
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        chain->holdConditions();
    }
}

void MappingChains::releaseMetering(bool apply) {
    holdingMetering_ = false;
    const bool applied = apply && metering_;
    if (applied) {
        applyMetering();
    }
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        chain->releaseConditions(applied);
    }
    // Only now that the capture hands them nothing more.
    leavingChains_.clear();
}

void MappingChains::applyMetering() {
    std::vector<MeterSettings> meters;
    std::vector<AudioCapture::FragmentLevelHandler> gates;
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        meters.push_back(chain->meterSettings());
        gates.push_back(chain->fastResponse() ? chain->fragmentHandler() : nullptr);
    }
    AudioCapture::FragmentLevelHandler handler;
    if (std::any_of(gates.begin(), gates.end(), [](const auto& gate) { return bool(gate); })) {
        handler = [gates = std::move(gates)](std::size_t meter, float averagePowerDb,
                                             float samplePeakDb) {
            if (meter < gates.size() && gates[meter]) {
                gates[meter](meter, averagePowerDb, samplePeakDb);
            }
        };
    }
    // The meters and the gates they feed change together, between two chunks of sound.
    capture_.setMetering(std::move(meters), std::move(handler));
}

void MappingChains::levelsArrived(const std::vector<MeterReading>& readings, MonotonicTime now) {
    for (size_t index = 0; index < chains_.size(); ++index) {
        const MeterReading reading = index < readings.size() ? readings[index] : MeterReading{};
        chains_[index]->levelArrived(averageOf(reading.levels), reading.samplePeak, now);
    }
}

void MappingChains::heldSent(const QVOSCMessage& message, const std::string& slot) {
    // A mapping removed meanwhile had its turn forgotten; each one books its own.
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        if (chain->slot() == slot) {
            valueSent(message, *chain);
        }
    }
}

void MappingChains::show() {
    status_.mappings.clear();
    for (const std::unique_ptr<MappingChain>& chain : chains_) {
        status_.mappings.push_back(chain->status());
    }
    status_.sharedAddresses = sharedAddresses(status_.mappings);
    const MappingStatus& first = status_.mappings.front();
    status_.meter = first.meter;
    status_.inputLevel = first.inputLevel;
    status_.lastValueSent = first.lastValueSent;
}

void MappingChains::sendValue(MappingChain& chain, const std::string& address, float value,
                              Destination::Kind kind) {
    const auto message =
        std::make_shared<QVOSCMessage>(QVOSCAddress::addressWithString("/zandorex/" + address));
    message->attachArgument(QVOSCArgument::argumentWithFloat(value));
    // A value held over an outage is told of when it goes.
    if (destination_.send(message, kind, chain.slot()) == Destination::Delivery::sent) {
        valueSent(*message, chain);
    }
    // A fast turn comes between ticks, and is seen however short.
    if (chain.fastResponse()) {
        show();
        hooks_.turned();
    }
}

void MappingChains::valueSent(const QVOSCMessage& message, MappingChain& chain) {
    const std::vector<std::shared_ptr<QVOSCArgument>> arguments = message.arguments();
    chain.valueSent(arguments.front()->floatValue());
    status_.lastValueSent = first().status().lastValueSent;
    hooks_.sent(message);
}
