// The mappings' chains and what the capture meters for them.
#include <algorithm>

#include "app/control/KestranoController.h"

std::unique_ptr<MappingChain> KestranoController::makeChain(std::string name) {
    return std::make_unique<MappingChain>(
        std::move(name), settings_, mainLoop_, clock_,
        MappingChain::Hooks{
            [this](MappingChain& chain, float value, Destination::Kind kind) {
                sendValue(chain, value, kind);
            },
            // A chain made while the list is being taken waits for the whole list.
            [this] {
                if (awake_ && !takingMappings_) {
                    applyMetering();
                }
            },
        });
}

void KestranoController::takeMappings() {
    takingMappings_ = true;
    std::vector<std::unique_ptr<MappingChain>> kept;
    kept.push_back(std::move(chains_.front()));
    const auto chainNamed = [this](std::string_view name) {
        return std::find_if(chains_.begin() + 1, chains_.end(),
                            [&](const auto& chain) { return chain && chain->name() == name; });
    };
    for (std::string& name : settings_.mappingNames()) {
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
    // A removed mapping's turn held over an outage is not sent when the connection is back.
    for (const std::unique_ptr<MappingChain>& gone : kept) {
        if (gone) {
            destination_.forget(gone->slot());
        }
    }
    showMappings();
    // The capture stops handing fragments to a gone chain's gate before that gate goes.
    applyMetering();
}

void KestranoController::applyMetering() {
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
    session_->setMetering(std::move(meters), std::move(handler));
}
