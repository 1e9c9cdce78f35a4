#include "app/audio/frequencies/SpectrumFeed.h"

#include "app/audio/AudioCapture.h"
#include "app/audio/tap/SoundTap.h"

namespace {

// A second of sound at 96 kHz: the analyser reads every thirtieth of a second.
constexpr std::size_t tapCapacityFrames = 96000;

}  // namespace

SpectrumFeed::SpectrumFeed(AudioCapture* capture) : capture_(capture) {}

SpectrumFeed::~SpectrumFeed() {
    stop();
}

SpectrumFeed::Hold::Hold(SpectrumFeed& feed, int spectraPerSecond)
    : feed_(feed), spectraPerSecond_(spectraPerSecond) {
    feed_.rates_.insert(spectraPerSecond_);
    if (!feed_.analyser_) {
        feed_.start();
    }
    feed_.followRates();
}

SpectrumFeed::Hold::~Hold() {
    feed_.rates_.erase(feed_.rates_.find(spectraPerSecond_));
    if (feed_.rates_.empty()) {
        feed_.stop();
    } else {
        feed_.followRates();
    }
}

void SpectrumFeed::followRates() {
    if (analyser_ && !rates_.empty()) {
        analyser_->setSpectraPerSecond(*rates_.rbegin());
    }
}

bool SpectrumFeed::takeNewer(FrequencyAnalyser::Spectrum& out) const {
    return analyser_ && analyser_->takeNewer(out);
}

void SpectrumFeed::start() {
    if (analyser_ || !capture_) {
        return;
    }
    // The whole input, every channel: each mapping's band is shown over the same sound.
    tap_ = std::make_shared<SoundTap>(std::vector<unsigned>{}, tapCapacityFrames);
    analyser_ = std::make_unique<FrequencyAnalyser>(tap_, *rates_.rbegin());
    capture_->addSoundTap(tap_);
}

void SpectrumFeed::stop() {
    if (!analyser_) {
        return;
    }
    capture_->removeSoundTap(tap_);
    analyser_.reset();
    tap_.reset();
}
