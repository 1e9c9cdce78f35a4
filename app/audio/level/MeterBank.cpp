#include "app/audio/level/MeterBank.h"

#include <algorithm>
#include <cmath>

#include "app/audio/level/LevelFigures.h"

namespace {

// Bit n chooses channel n (from 0); 0 when a chosen channel is not among `channelCount`.
std::uint32_t channelMask(const std::vector<unsigned>& channels, std::size_t channelCount) {
    if (channels.empty()) {
        return channelCount >= 32 ? ~0u : (1u << channelCount) - 1u;
    }
    std::uint32_t mask = 0;
    for (const unsigned channel : channels) {
        if (channel < 1 || channel > channelCount) {
            return 0;
        }
        mask |= 1u << (channel - 1);
    }
    return mask;
}

}  // namespace

MeterBank::MeterBank() {
    configure({});
}

MeterBank::~MeterBank() = default;

void MeterBank::configure(std::vector<MeterSettings> meters) {
    if (meters.empty()) {
        meters.emplace_back();
    }
    if (meters.size() > kMaxMeters) {
        meters.resize(kMaxMeters);
    }
    const auto sameOwners = [&] {
        return std::ranges::equal(meters, meters_, {}, &MeterSettings::owner,
                                  &MeterSettings::owner);
    };
    if (layout_ && meters == meters_ && sameOwners()) {
        return;
    }
    auto layout = std::make_shared<Layout>();
    layout->meters = meters;
    layout->slotOfMeter.assign(meters.size(), kMaxMeters);
    const Layout* old = layout_.get();
    const auto bandOf = [](const MeterSettings& meter) {
        return Band{meter.lowCut, meter.highCut, true};
    };
    const auto slotWith = [](const std::array<Band, kMaxMeters>& bands, const Band& band) {
        const auto found = std::ranges::find(bands, band);
        return found == bands.end() ? kMaxMeters : static_cast<std::size_t>(found - bands.begin());
    };
    // A band that stays keeps its slot, with its filter's state and its sums: whoever reads them
    // hears that band's own sound. Meters of one band share a slot.
    std::vector<std::size_t> fresh;
    std::array<bool, kMaxMeters> emptied{};
    for (std::size_t meter = 0; meter < meters.size(); ++meter) {
        const Band band = bandOf(meters[meter]);
        std::size_t slot = slotWith(layout->bands, band);
        if (slot == kMaxMeters && old != nullptr) {
            slot = slotWith(old->bands, band);
        }
        if (slot == kMaxMeters) {
            fresh.push_back(meter);
            continue;
        }
        layout->bands[slot] = band;
        layout->slotOfMeter[meter] = slot;
    }
    // Any other band starts afresh, preferably in a slot the capture's thread does not feed. A
    // slot it still feeds holds another band's sound until the capture takes this layout and
    // empties it; until then the slot reads as no sound.
    for (const std::size_t meter : fresh) {
        const Band band = bandOf(meters[meter]);
        std::size_t slot = slotWith(layout->bands, band);
        if (slot == kMaxMeters) {
            for (std::size_t candidate = 0; candidate < kMaxMeters; ++candidate) {
                const bool freeNow = !layout->bands[candidate].used;
                const bool fedBefore = old != nullptr && old->bands[candidate].used;
                if (freeNow && (!fedBefore || slot == kMaxMeters)) {
                    slot = candidate;
                    if (!fedBefore) {
                        break;
                    }
                }
            }
            layout->bands[slot] = band;
            slots_[slot].power.reset(channelCount_);
            slots_[slot].nonFiniteSamples.store(0, std::memory_order_relaxed);
            emptied[slot] = true;
        }
        layout->slotOfMeter[meter] = slot;
    }
    meters_ = std::move(meters);
    layout_ = layout;
    const std::uint64_t generation = publish(std::move(layout), false);
    for (std::size_t slot = 0; slot < kMaxMeters; ++slot) {
        if (emptied[slot]) {
            freshSince_[slot] = generation;
        }
    }
}

void MeterBank::reset(std::size_t channelCount, double sampleRate) {
    channelCount_ = channelCount;
    sampleRate_ = sampleRate;
    for (Slot& slot : slots_) {
        slot.power.reset(channelCount);
        slot.nonFiniteSamples.store(0, std::memory_order_relaxed);
    }
    publish(layout_, true);
}

std::uint64_t MeterBank::publish(std::shared_ptr<const Layout> layout, bool restart) {
    std::lock_guard lock(handOverMutex_);
    handedOver_ = std::move(layout);
    restarts_ += restart ? 1 : 0;
    return generation_.fetch_add(1, std::memory_order_release) + 1;
}

MeterBank::Take MeterBank::take() {
    std::array<std::optional<ChannelPowerMeter::Reading>, kMaxMeters> bySlot;
    // A slot given a new band holds the old band's sound until the capture has taken the new
    // layout and emptied it.
    const std::uint64_t adopted = adopted_.load(std::memory_order_acquire);
    for (std::size_t slot = 0; slot < kMaxMeters; ++slot) {
        if (freshSince_[slot] > adopted) {
            bySlot[slot] = ChannelPowerMeter::Reading{};
        }
    }
    Take result;
    result.meters.reserve(meters_.size());
    for (std::size_t meter = 0; meter < meters_.size(); ++meter) {
        const std::size_t slot = layout_->slotOfMeter[meter];
        if (!bySlot[slot]) {
            bySlot[slot] = slots_[slot].power.take();
        }
        const ChannelPowerMeter::Reading& power = *bySlot[slot];
        MeterReading reading;
        reading.band = bandStatus(meter);
        const std::vector<unsigned>& channels = meters_[meter].channels;
        const bool missing = std::any_of(channels.begin(), channels.end(), [&](unsigned channel) {
            return channel < 1 || channel > power.averagePower.size();
        });
        for (std::size_t channel = 0; channel < power.averagePower.size() && !missing; ++channel) {
            if (channels.empty() ||
                std::find(channels.begin(), channels.end(), channel + 1) != channels.end()) {
                reading.levels.push_back(power.averagePower[channel]);
                reading.samplePeak = std::max(reading.samplePeak.value_or(kSilenceDecibels),
                                              power.samplePeak[channel]);
            }
        }
        if (meter == 0 && !power.averagePower.empty()) {
            result.loudestChannel =
                *std::max_element(power.averagePower.begin(), power.averagePower.end());
        }
        result.meters.push_back(std::move(reading));
    }
    return result;
}

BandStatus MeterBank::bandStatus(std::size_t meter) const {
    if (meter >= meters_.size()) {
        return {};
    }
    BandStatus status =
        BandFilter::statusFor(meters_[meter].lowCut, meters_[meter].highCut, sampleRate_);
    status.nonFiniteSamples =
        slots_[layout_->slotOfMeter[meter]].nonFiniteSamples.load(std::memory_order_relaxed);
    return status;
}

void MeterBank::feed(const float* samples, std::size_t frameCount, std::size_t channelCount,
                     double sampleRate, const FragmentHandler& onFragment) {
    if (channelCount == 0 || channelCount > ChannelPowerMeter::kMaxChannels) {
        return;
    }
    if (generation_.load(std::memory_order_acquire) != feeder_.generation ||
        channelCount != feeder_.channelCount || sampleRate != feeder_.sampleRate) {
        prepare(channelCount, sampleRate);
    }
    while (frameCount > 0) {
        const std::size_t frames = std::min(frameCount, kChunkFrames);
        feedChunk(samples, frames, onFragment);
        samples += frames * channelCount;
        frameCount -= frames;
    }
    // The piece's end: every fast meter judges the last 5 ms, whole, as they are now.
    for (std::size_t meter = 0; onFragment && meter < feeder_.windows.size(); ++meter) {
        if (feeder_.windows[meter].sinceJudged > 0) {
            judge(meter, onFragment);
        }
    }
}

void MeterBank::prepare(std::size_t channelCount, double sampleRate) {
    std::uint64_t restarts = 0;
    const std::shared_ptr<const Layout> before = feeder_.layout;
    {
        std::lock_guard lock(handOverMutex_);
        feeder_.layout = handedOver_;
        feeder_.generation = generation_.load(std::memory_order_relaxed);
        restarts = restarts_;
    }
    const bool restart = restarts != feederRestarts_ || channelCount != feeder_.channelCount ||
                         sampleRate != feeder_.sampleRate;
    feederRestarts_ = restarts;
    feeder_.channelCount = channelCount;
    feeder_.sampleRate = sampleRate;
    const Layout& layout = *feeder_.layout;
    for (std::size_t slot = 0; slot < kMaxMeters; ++slot) {
        const Band& band = layout.bands[slot];
        if (band.used && (restart || feeder_.filterBands[slot] != band)) {
            feeder_.filters[slot].configure(band.lowCut, band.highCut, sampleRate, channelCount);
        }
        // What this thread summed there before was another band's sound.
        if (band.used && feeder_.filterBands[slot] != band) {
            slots_[slot].power.reset(channelCount);
        }
        feeder_.filterBands[slot] = band;
    }
    feeder_.masks.clear();
    for (const MeterSettings& meter : layout.meters) {
        feeder_.masks.push_back(channelMask(meter.channels, channelCount));
    }
    feeder_.filtered.resize(kChunkFrames * channelCount);
    feeder_.pairFiltered.resize(kChunkFrames * channelCount);
    feeder_.fragmentFrames = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::lround(sampleRate * kFragmentSeconds)), 1, kChunkFrames);
    // A fast meter whose owner, channels and band stay goes on with its window: a change of
    // another mapping, or of the list, never makes it deaf for 5 ms.
    std::vector<SlidingWindow> windows(layout.meters.size());
    for (std::size_t meter = 0; meter < layout.meters.size(); ++meter) {
        const MeterSettings& settings = layout.meters[meter];
        if (!settings.fast || feeder_.masks[meter] == 0) {
            continue;
        }
        std::size_t from = feeder_.windows.size();
        if (!restart && before != nullptr && !settings.owner.empty()) {
            const auto kept = std::ranges::find_if(before->meters, [&](const MeterSettings& other) {
                return other.owner == settings.owner && other == settings;
            });
            from = static_cast<std::size_t>(kept - before->meters.begin());
        }
        if (from < feeder_.windows.size()) {
            windows[meter] = std::move(feeder_.windows[from]);
        } else {
            windows[meter].samples.resize(feeder_.fragmentFrames * channelCount);
        }
    }
    feeder_.windows = std::move(windows);
    adopted_.store(feeder_.generation, std::memory_order_release);
}

void MeterBank::feedChunk(const float* samples, std::size_t frames,
                          const FragmentHandler& onFragment) {
    const Layout& layout = *feeder_.layout;
    const std::size_t channelCount = feeder_.channelCount;
    const auto measure = [&](std::size_t slot, const float* filtered, std::size_t broken) {
        if (broken) {
            slots_[slot].nonFiniteSamples.fetch_add(broken, std::memory_order_relaxed);
        }
        slots_[slot].power.accumulate(filtered, frames, channelCount);
        if (!onFragment) {
            return;
        }
        for (std::size_t meter = 0; meter < layout.meters.size(); ++meter) {
            if (layout.slotOfMeter[meter] == slot && layout.meters[meter].fast &&
                feeder_.masks[meter] != 0) {
                measureFragments(meter, filtered, frames, onFragment);
            }
        }
    };
    float* filtered = feeder_.filtered.data();
    float* pairFiltered = feeder_.pairFiltered.data();
    // Stereo bands go two at a time, which costs little more than one.
    std::size_t waiting = kMaxMeters;  // a pairable band's slot, until its pair comes
    for (std::size_t slot = 0; slot < kMaxMeters; ++slot) {
        if (!layout.bands[slot].used) {
            continue;
        }
        BandFilter& filter = feeder_.filters[slot];
        if (!filter.pairable()) {
            measure(slot, filtered, filter.process(samples, filtered, frames));
        } else if (waiting == kMaxMeters) {
            waiting = slot;
        } else {
            const std::size_t broken = BandFilter::processPair(
                feeder_.filters[waiting], filter, samples, filtered, pairFiltered, frames);
            measure(waiting, filtered, broken);
            measure(slot, pairFiltered, broken);
            waiting = kMaxMeters;
        }
    }
    if (waiting != kMaxMeters) {
        measure(waiting, filtered, feeder_.filters[waiting].process(samples, filtered, frames));
    }
}

void MeterBank::measureFragments(std::size_t meter, const float* filtered, std::size_t frames,
                                 const FragmentHandler& onFragment) {
    const std::size_t channelCount = feeder_.channelCount;
    const std::size_t length = feeder_.fragmentFrames;
    SlidingWindow& window = feeder_.windows[meter];
    std::size_t done = 0;
    while (done < frames) {
        // Up to the ring's end, and no further than the next judgement within a long piece.
        const std::size_t untilJudged = length - std::min(window.sinceJudged, length - 1);
        const std::size_t run = std::min({frames - done, length - window.next, untilJudged});
        slide(window, filtered + done * channelCount, run);
        done += run;
        window.filled = std::min(window.filled + run, length);
        window.sinceJudged += run;
        if (window.sinceJudged >= length) {
            judge(meter, onFragment);
        }
    }
}

void MeterBank::slide(SlidingWindow& window, const float* frames, std::size_t count) const {
    // Each frame overwritten leaves the sums as the new one enters, so that a judgement costs
    // the same however small the pieces come: summing the whole window anew for every piece of
    // a millisecond would cost five times as much as the 5 ms fragments the fast path asks for.
    const std::size_t channelCount = feeder_.channelCount;
    float* place = window.samples.data() + window.next * channelCount;
    for (std::size_t frame = 0; frame < count; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            const double entering = frames[frame * channelCount + channel];
            const double leaving = place[frame * channelCount + channel];
            window.squares[channel] += entering * entering - leaving * leaving;
        }
    }
    std::copy_n(frames, count * channelCount, place);
    window.next = (window.next + count) % feeder_.fragmentFrames;
    if (window.next != 0) {
        return;
    }
    // Once a lap, summed afresh: the rounding of what entered and left never builds up, and
    // silence after a loud sound reads as silence.
    window.squares.fill(0.0);
    for (std::size_t frame = 0; frame < feeder_.fragmentFrames; ++frame) {
        for (std::size_t channel = 0; channel < channelCount; ++channel) {
            const double sample = window.samples[frame * channelCount + channel];
            window.squares[channel] += sample * sample;
        }
    }
}

void MeterBank::judge(std::size_t meter, const FragmentHandler& onFragment) {
    SlidingWindow& window = feeder_.windows[meter];
    if (window.filled < feeder_.fragmentFrames) {
        return;
    }
    window.sinceJudged = 0;
    const std::size_t channelCount = feeder_.channelCount;
    const std::uint32_t mask = feeder_.masks[meter];
    double peak = 0.0;
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
        for (std::size_t frame = 0; (mask >> channel & 1u) != 0 && frame < feeder_.fragmentFrames;
             ++frame) {
            peak =
                std::max(peak, double{std::fabs(window.samples[frame * channelCount + channel])});
        }
    }
    const FragmentLevel level =
        levelOfSums(window.squares.data(), peak, feeder_.fragmentFrames, channelCount, mask);
    onFragment(meter, level.averagePower, level.samplePeak);
}
