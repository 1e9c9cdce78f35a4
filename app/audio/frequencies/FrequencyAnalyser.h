#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/audio/tap/SoundTap.h"

// The input's spectrum, worked out on a thread of its own from one sound tap, so that the window
// only draws: every `1 / spectraPerSecond` of sound it takes the newest `windowFrames` frames
// through a Hann window into an FFT (FFTW) and keeps the result for whoever asks next. Only the
// newest spectrum is kept: a reader that looks less often misses some, and nothing piles up.
class FrequencyAnalyser {
  public:
    static constexpr std::size_t windowFrames = 4096;
    // What the window draws; a view that shows fewer asks for fewer, and the analysis costs less.
    static constexpr int spectraPerSecond = 30;

    struct Spectrum {
        // Counts the spectra made; 0 is none yet.
        std::uint64_t number = 0;
        double sampleRate = 0.0;
        // One per FFT bin from 0 Hz to half the rate, in steps of sampleRate / windowFrames: the
        // amplitude in dBFS, where a full-scale sine at the bin's frequency reads 0. Never below
        // `floorDecibels`.
        std::vector<float> decibels;
    };
    static constexpr float floorDecibels = -160.0f;

    // Starts reading `tap`, which the caller adds to the capture, making `spectra` a second.
    explicit FrequencyAnalyser(std::shared_ptr<SoundTap> tap, int spectra = spectraPerSecond);
    // Stops the tap and waits for the thread.
    ~FrequencyAnalyser();
    FrequencyAnalyser(const FrequencyAnalyser&) = delete;
    FrequencyAnalyser& operator=(const FrequencyAnalyser&) = delete;

    // Any thread: copies the newest spectrum into `out` when it is newer than `out.number`, and
    // says whether it did.
    bool takeNewer(Spectrum& out) const;
    // Any thread: how many spectra a second of sound makes from now on, at least one.
    void setSpectraPerSecond(int spectra);

  private:
    struct Fft;
    void run();

    std::shared_ptr<SoundTap> tap_;
    std::unique_ptr<Fft> fft_;
    mutable std::mutex mutex_;
    Spectrum newest_;  // guarded by mutex_
    std::atomic<int> spectraPerSecond_{spectraPerSecond};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
