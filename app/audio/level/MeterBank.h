#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/audio/level/BandFilter.h"
#include "app/audio/level/ChannelPowerMeter.h"

// What one meter of the input measures: its channels, counted from 1 (empty for every channel),
// through a high-pass at `lowCut` and a low-pass at `highCut` Hz (each left out at 0). A fast
// meter also measures every short fragment as it arrives.
struct MeterSettings {
    std::vector<unsigned> channels;
    float lowCut = 0.0f;
    float highCut = 0.0f;
    bool fast = false;
    // The setting that chose `channels`, as a missing channel's error names it.
    std::string channelsKey = "inputChannels";
    // Whose meter this is, for as long as it lives (empty: no one's in particular). A meter's
    // sums and its fast window go with its owner, never with its place in the list, so that a
    // mapping arriving where another stood hears nothing the other gathered.
    std::string owner = {};
    // The same measurement, whoever owns it.
    bool measuresAlike(const MeterSettings& other) const {
        return channels == other.channels && lowCut == other.lowCut && highCut == other.highCut &&
               fast == other.fast && channelsKey == other.channelsKey;
    }
    friend bool operator==(const MeterSettings& a, const MeterSettings& b) {
        return a.measuresAlike(b);
    }
};

// One meter's reading of one take.
struct MeterReading {
    // Per chosen channel, the average power in dBFS; empty without input, or while a chosen
    // channel is missing from the input.
    std::vector<float> levels;
    // The largest |sample| of the chosen channels in dBFS; nothing when `levels` is empty.
    std::optional<float> samplePeak;
    // Why the chosen channels cannot be metered on the current input; empty when they can.
    std::string channelsError;
    BandStatus band;
    friend bool operator==(const MeterReading&, const MeterReading&) = default;
};

// Several meters of one input: configured on the main thread, fed interleaved frames on the
// capture's thread, read on the main thread once per tick. Meters with the same band share its
// filter and its power sums (every channel is summed; the channel choice applies when reading),
// so many meters on a few bands cost little more than one. The capture's thread takes a new
// configuration at its next chunk, and allocates only then; neither side waits for long.
class MeterBank {
  public:
    // The first mapping's meter and at most 16 more.
    static constexpr std::size_t kMaxMeters = 17;
    // The longest stretch filtered and summed at a time, and so the longest fragment measured.
    static constexpr std::size_t kChunkFrames = 512;

    // How much sound a fast meter measures at a time.
    static constexpr double kFragmentSeconds = 0.005;

    // Called on the capture's thread for each fast meter as each piece of sound arrives, once
    // kFragmentSeconds have: the chosen channels' average power (the mean of their dBFS, the
    // tick's figure) and sample peak, after the band, over the last kFragmentSeconds. A window
    // that slides with each piece judges whole 5 ms without waiting for a fragment to fill; a
    // piece longer than that is judged every kFragmentSeconds within it too.
    using FragmentHandler =
        std::function<void(std::size_t meter, float averagePowerDb, float samplePeakDb)>;

    struct Take {
        std::vector<MeterReading> meters;  // channelsError left empty: the input names it
        // The average power in dBFS of the loudest channel in the first meter's band, chosen or
        // not; nothing without channels.
        std::optional<float> loudestChannel;
    };

    MeterBank();
    ~MeterBank();
    MeterBank(const MeterBank&) = delete;
    MeterBank& operator=(const MeterBank&) = delete;

    // Main thread. An empty list is one meter of every channel without a band; beyond
    // kMaxMeters the rest are left out. A band that stays keeps its filter and sums; a new band
    // reads nothing until the capture's thread has taken it, then only its own sound.
    void configure(std::vector<MeterSettings> meters);
    const std::vector<MeterSettings>& meters() const { return meters_; }
    // Main thread, while nothing feeds: starts over for an input of `channelCount` channels (0
    // for none) at `sampleRate`, filters from silence and counts cleared.
    void reset(std::size_t channelCount, double sampleRate);
    // Main thread: every meter's reading of the frames fed since the previous take. A band
    // without new frames holds its reading as ChannelPowerMeter does.
    Take take();
    // Main thread: what the meter's band does at the input's rate, and the non-finite samples it
    // met since the reset.
    BandStatus bandStatus(std::size_t meter) const;

    // Capture's thread: adds `frameCount` interleaved frames of `channelCount` channels at
    // `sampleRate`, and measures each fragment of kFragmentSeconds for `onFragment` (if set).
    void feed(const float* samples, std::size_t frameCount, std::size_t channelCount,
              double sampleRate, const FragmentHandler& onFragment);

  private:
    struct Band {
        float lowCut = 0.0f;
        float highCut = 0.0f;
        bool used = false;
        friend bool operator==(const Band&, const Band&) = default;
    };
    // What the capture's thread works from: each slot's band and each meter's slot.
    struct Layout {
        std::array<Band, kMaxMeters> bands{};
        std::vector<MeterSettings> meters;
        std::vector<std::size_t> slotOfMeter;
    };
    // A band's sums and broken-sample count, shared by both threads.
    struct Slot {
        ChannelPowerMeter power;
        std::atomic<std::uint64_t> nonFiniteSamples{0};
    };
    // A fast meter's last frames, each channel's sum of their squares, and how many came since it
    // was last judged.
    struct SlidingWindow {
        std::vector<float> samples;
        std::array<double, ChannelPowerMeter::kMaxChannels> squares{};
        std::size_t next = 0;
        std::size_t filled = 0;
        std::size_t sinceJudged = 0;
    };
    // The capture thread's own.
    struct Feeder {
        std::shared_ptr<const Layout> layout;
        std::uint64_t generation = 0;
        std::size_t channelCount = 0;
        double sampleRate = 0.0;
        std::array<BandFilter, kMaxMeters> filters;
        std::array<Band, kMaxMeters> filterBands{};
        std::vector<std::uint32_t> masks;  // per meter; 0 while a chosen channel is missing
        std::vector<float> filtered;
        std::vector<float> pairFiltered;  // the second band's, of two filtered at once
        // Per meter, its filtered frames of the last fragmentFrames, oldest overwritten first.
        std::vector<SlidingWindow> windows;
        std::size_t fragmentFrames = 1;
    };

    // Hands `layout` to the capture's thread; the generation it is handed over as.
    std::uint64_t publish(std::shared_ptr<const Layout> layout, bool restart);
    void prepare(std::size_t channelCount, double sampleRate);
    void feedChunk(const float* samples, std::size_t frames, const FragmentHandler& onFragment);
    // Adds a fast meter's filtered frames to its window, judging it every kFragmentSeconds.
    void measureFragments(std::size_t meter, const float* filtered, std::size_t frames,
                          const FragmentHandler& onFragment);
    // Puts `frames` frames at the window's next place, short of its end, keeping its sums.
    void slide(SlidingWindow& window, const float* frames, std::size_t count) const;
    // Tells the window's level, once it is full.
    void judge(std::size_t meter, const FragmentHandler& onFragment);

    std::array<Slot, kMaxMeters> slots_;

    // Main thread only.
    std::vector<MeterSettings> meters_;
    std::shared_ptr<const Layout> layout_;
    // Per slot, the generation from which it holds a band it did not hold before.
    std::array<std::uint64_t, kMaxMeters> freshSince_{};
    std::size_t channelCount_ = 0;
    double sampleRate_ = 0.0;

    // Handed from the main thread to the capture's: `generation_` counts configurations and
    // resets, and a reset asks for the filters from silence.
    std::mutex handOverMutex_;
    std::shared_ptr<const Layout> handedOver_;  // guarded by handOverMutex_
    std::uint64_t restarts_ = 0;                // guarded by handOverMutex_
    std::atomic<std::uint64_t> generation_{0};
    // The generation the capture's thread last took, once it has emptied the slots whose band
    // changed.
    std::atomic<std::uint64_t> adopted_{0};

    Feeder feeder_;
    std::uint64_t feederRestarts_ = 0;  // the capture thread's
};
