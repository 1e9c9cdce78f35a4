#pragma once

#include <cstddef>
#include <memory>
#include <set>

#include "app/audio/frequencies/FrequencyAnalyser.h"

class AudioCapture;
class SoundTap;

// The input's spectrum for every view that shows it (the window, the browser page): one sound
// tap and one analyser thread, running while at least one view holds the feed open and gone when
// the last lets go, so that a program nobody watches pays nothing for it. Main thread only; the
// spectra themselves come from the analyser's thread under its own lock.
class SpectrumFeed {
  public:
    // `capture` may be null (no spectrum then); it must outlive the feed.
    explicit SpectrumFeed(AudioCapture* capture);
    ~SpectrumFeed();
    SpectrumFeed(const SpectrumFeed&) = delete;
    SpectrumFeed& operator=(const SpectrumFeed&) = delete;

    // Keeps the analysis running while it lives, making at least `spectraPerSecond`: the
    // analysis runs at the rate of the view that wants the most.
    class Hold {
      public:
        Hold(SpectrumFeed& feed, int spectraPerSecond);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

      private:
        SpectrumFeed& feed_;
        int spectraPerSecond_;
    };
    std::unique_ptr<Hold> open(int spectraPerSecond = FrequencyAnalyser::spectraPerSecond) {
        return std::make_unique<Hold>(*this, spectraPerSecond);
    }

    // Copies the newest spectrum into `out` when it is newer than `out.number`; false while
    // nobody holds the feed open or nothing new came.
    bool takeNewer(FrequencyAnalyser::Spectrum& out) const;
    bool analysing() const { return analyser_ != nullptr; }

  private:
    void start();
    void stop();
    void followRates();

    AudioCapture* capture_;
    // The rate each hold wants, one entry a hold.
    std::multiset<int> rates_;
    std::shared_ptr<SoundTap> tap_;
    std::unique_ptr<FrequencyAnalyser> analyser_;
};
