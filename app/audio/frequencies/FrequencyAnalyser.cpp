#include "app/audio/frequencies/FrequencyAnalyser.h"

#include <fftw3.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

namespace {

// FFTW's planner is not thread-safe; its transforms are. Its own lock around every planner
// call covers any other analysis in the program that plans with FFTW on a thread of its own
// (a library's included), which a lock of ours would not.
void makePlannerThreadSafe() {
    static std::once_flag once;
    std::call_once(once, [] { fftwf_make_planner_thread_safe(); });
}

// While the rate is not known yet, a read waits for this many frames.
constexpr std::size_t framesBeforeRateKnown = 1024;
constexpr std::chrono::milliseconds readTimeout{200};

}  // namespace

struct FrequencyAnalyser::Fft {
    Fft() {
        makePlannerThreadSafe();
        in = fftwf_alloc_real(windowFrames);
        out = fftwf_alloc_complex(windowFrames / 2 + 1);
        // Estimated, not measured: measuring takes seconds the window would wait on.
        plan = fftwf_plan_dft_r2c_1d(static_cast<int>(windowFrames), in, out, FFTW_ESTIMATE);
        window.resize(windowFrames);
        double sum = 0.0;
        for (std::size_t index = 0; index < windowFrames; ++index) {
            window[index] = static_cast<float>(
                0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(index) /
                                     static_cast<double>(windowFrames)));
            sum += window[index];
        }
        // A sine of amplitude A gives a bin of A * sum / 2.
        amplitudeScale = static_cast<float>(2.0 / sum);
    }
    ~Fft() {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // `sound`: the newest windowFrames frames, oldest first.
    void transform(const std::vector<float>& sound, std::vector<float>& decibels) {
        for (std::size_t index = 0; index < windowFrames; ++index) {
            in[index] = sound[index] * window[index];
        }
        fftwf_execute(plan);
        decibels.resize(windowFrames / 2 + 1);
        // From the power, with one logarithm a bin and neither a root nor hypot's care for
        // overflow, which the sums of float samples below 1 never come near.
        const float scaleDecibels = 20.0f * std::log10(amplitudeScale);
        for (std::size_t bin = 0; bin < decibels.size(); ++bin) {
            const float power = out[bin][0] * out[bin][0] + out[bin][1] * out[bin][1];
            decibels[bin] = power > 0.0f
                                ? std::max(floorDecibels, 10.0f * std::log10(power) + scaleDecibels)
                                : floorDecibels;
        }
    }

    float* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    std::vector<float> window;
    float amplitudeScale = 1.0f;
};

FrequencyAnalyser::FrequencyAnalyser(std::shared_ptr<SoundTap> tap, int spectra)
    : tap_(std::move(tap)),
      fft_(std::make_unique<Fft>()),
      spectraPerSecond_(std::max(1, spectra)),
      thread_([this] { run(); }) {}

FrequencyAnalyser::~FrequencyAnalyser() {
    stopping_ = true;
    tap_->stop();
    thread_.join();
}

bool FrequencyAnalyser::takeNewer(Spectrum& out) const {
    const std::lock_guard lock(mutex_);
    if (newest_.number <= out.number) {
        return false;
    }
    out.number = newest_.number;
    out.sampleRate = newest_.sampleRate;
    out.decibels.assign(newest_.decibels.begin(), newest_.decibels.end());
    return true;
}

void FrequencyAnalyser::setSpectraPerSecond(int spectra) {
    spectraPerSecond_ = std::max(1, spectra);
}

void FrequencyAnalyser::run() {
    pthread_setname_np(pthread_self(), "kestrano-fft");
    std::vector<float> sound(windowFrames, 0.0f);
    std::vector<float> block(windowFrames);
    std::vector<float> decibels;
    double rate = 0.0;
    std::size_t sinceLast = 0;
    std::uint64_t made = 0;
    while (!stopping_) {
        const std::size_t hop =
            rate > 0.0 ? std::max<std::size_t>(1, static_cast<std::size_t>(rate) /
                                                      static_cast<std::size_t>(spectraPerSecond_))
                       : framesBeforeRateKnown;
        // A hop longer than the window is read whole, of which the window keeps the newest:
        // read a window at a time, the sound would fall ever further behind.
        block.resize(std::max(windowFrames, hop));
        const SoundTap::Block taken = tap_->read(block.data(), hop, block.size(), readTimeout);
        if (taken.frames == 0) {
            continue;  // no input now, or stopping
        }
        if (taken.sampleRate != rate) {
            // Another input: its sound starts from silence, not joined to the last one's.
            rate = taken.sampleRate;
            std::fill(sound.begin(), sound.end(), 0.0f);
            sinceLast = 0;
        }
        const std::size_t count = std::min(taken.frames, windowFrames);
        std::move(sound.begin() + static_cast<std::ptrdiff_t>(count), sound.end(), sound.begin());
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(taken.frames - count), count,
                    sound.end() - static_cast<std::ptrdiff_t>(count));
        sinceLast += taken.frames;
        if (sinceLast < hop) {
            continue;
        }
        sinceLast = 0;
        fft_->transform(sound, decibels);
        const std::lock_guard lock(mutex_);
        newest_.number = ++made;
        newest_.sampleRate = rate;
        newest_.decibels.swap(decibels);
    }
}
