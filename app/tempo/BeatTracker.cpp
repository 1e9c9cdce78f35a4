#include "app/tempo/BeatTracker.h"

#include <pthread.h>

#include "app/tempo/TempoInduction.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>
#include <vector>

namespace {

// The tracker hears the input brought down to about 12 kHz (the mean of 4 frames at 44.1 and
// 48 kHz): the onsets of kicks and snares are well below that. Hops of 64 frames place onsets
// within 6 ms; the window of four hops is the onset detector's usual one. That costs a quarter
// of hops of 256 frames at 48 kHz; hops of 11 ms cost less still but place the beats 30 ms off.
constexpr double analysisRate = 11025.0;
constexpr std::size_t hopFrames = 64;
constexpr unsigned windowFrames = 256;
// The thread wakes for eight hops at a time (43 ms): beats are sent from the grid, not as they
// are heard, so that the tracker may hear them a little later.
constexpr std::size_t hopsPerRead = 8;
// Below this mean square a hop counts as silent (-60 dBFS).
constexpr float silentPower = 1.0e-6f;
// The novelty the tempo is chosen over: long enough for a bar's patterns to repeat, short enough
// that a change of tempo is followed within a few seconds.
constexpr double noveltyMemory = 8.0;
// The tempo is chosen afresh this often.
constexpr double choiceInterval = 0.25;
// A tempo is steady once the choices of this long agree within steadyShare, each with at least
// steadyConfidence: until then, and whenever they part, the beats are held.
constexpr double steadyFor = 1.0;
constexpr double steadyShare = 0.02;
constexpr double steadyConfidence = 0.05;
// How much new sound the novelty must bring, against the sound's loudness, to hold a beat: its sum
// over the choice's seconds at least this many times the hops' summed root mean square (both grow
// alike with the gain). Once a steady tone's onset has left those seconds, its novelty is only the
// ripple of its cycles against the hops, which at most pitches repeats regularly enough to give a
// tempo: between 130 Hz and 5 kHz that ripple brings less than 5 at all but a few pitches, band
// recordings 54 to 190. A hum below 130 Hz brings as much as music does, and is let by.
constexpr double leastChange = 5.0;
// A hit shows in the novelty of the hop it falls in, and most in the next one, as it comes into
// the middle of the detector's window: the beat lies this many hops before the novelty's peak.
constexpr double noveltyDelay = 1.0;
// A read waits this long for sound before it counts the wait as silence.
constexpr std::chrono::milliseconds readTimeout{200};
// How long the earliest arrival is remembered: long enough to include a read that came without
// delay, short enough to follow a server that changed its latency.
constexpr double arrivalMemory = 5.0;
// A capture that stopped and went on (a stream reopened, a device back) counts its frames on from
// where it stopped, so the frames after the gap arrive later than their count says. Reads that
// all come this much later than the frames before them, for gapConfirmation, mark a gap: one late
// read on a busy machine does not.
constexpr double gapTolerance = 0.03;
constexpr double gapConfirmation = 0.3;

double seconds(SoundTap::Clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

}  // namespace

// One onset detector of the module's; made anew for each input rate and after each silence or
// gap, so that the music that comes back is heard without the old one's spectrum.
class BeatTracker::Detector {
  public:
    Detector(const KestranoBeatFunctions& functions, double rate)
        : functions_(functions),
          detector_(functions.create(windowFrames, static_cast<unsigned>(hopFrames),
                                     static_cast<unsigned>(std::lround(rate)))) {}
    ~Detector() {
        if (detector_ != nullptr) {
            functions_.destroy(detector_);
        }
    }
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    bool usable() const { return detector_ != nullptr; }
    float novelty(const float* hop) { return functions_.novelty(detector_, hop); }

  private:
    const KestranoBeatFunctions& functions_;
    void* detector_;
};

BeatTracker::BeatTracker(std::shared_ptr<const KestranoBeatFunctions> functions,
                         std::shared_ptr<SoundTap> tap, double minimumBpm,
                         std::function<void()> changed, Pace pace)
    : minimum_(minimumBpm),
      functions_(std::move(functions)),
      tap_(std::move(tap)),
      changed_(std::move(changed)),
      hop_(hopFrames) {
    if (pace == Pace::ownThread) {
        thread_ = std::thread([this] { run(); });
    } else {
        tap_->setWrittenHandler([this] { hearWhatCame(); });
    }
}

BeatTracker::~BeatTracker() {
    ending_ = true;
    tap_->stop();
    if (thread_.joinable()) {
        thread_.join();
    } else {
        tap_->setWrittenHandler(nullptr);
    }
}

void BeatTracker::setMinimum(double bpm) {
    minimum_ = bpm;
}

BeatTracker::State BeatTracker::state() {
    std::lock_guard lock(mutex_);
    told_ = false;
    return published_;
}

void BeatTracker::publish() {
    {
        std::lock_guard lock(mutex_);
        published_ = state_;
    }
    // One call waits at a time: the main thread takes the newest state whenever it comes to it.
    if (!told_.exchange(true)) {
        changed_();
    }
}

std::size_t BeatTracker::readFrames() const {
    return hopsPerRead * hopFrames * factor_;
}

void BeatTracker::run() {
    pthread_setname_np(pthread_self(), "kestrano-tempo");
    std::vector<float> sound;
    while (!ending_) {
        const std::size_t wanted = readFrames();
        sound.resize(wanted);
        const auto asked = Clock::now();
        const SoundTap::Block block = tap_->read(sound.data(), wanted, wanted, readTimeout);
        if (block.frames < wanted && !ending_) {
            // An input that stopped delivering (removed, suspended) is as silent as one that
            // delivers zeros.
            waitedSilent(std::chrono::duration<double>(Clock::now() - asked).count());
        }
        hear(sound.data(), block);
    }
}

void BeatTracker::hearWhatCame() {
    // The same reads as the thread's, taken only whole: what is short of one waits for the next
    // piece, as the thread would wait for it.
    while (!ending_ && tap_->unreadFrames() >= readFrames()) {
        std::vector<float> sound(readFrames());
        hear(sound.data(),
             tap_->read(sound.data(), sound.size(), sound.size(), std::chrono::milliseconds(0)));
    }
}

void BeatTracker::hear(const float* sound, const SoundTap::Block& block) {
    if (block.sampleRate <= 0.0 || block.frames == 0) {
        return;
    }
    // A new input, or frames lost to a slow reader or a stalled input: the tracker's count
    // of frames restarts.
    if (!detector_ || block.sampleRate != rate_ || block.firstFrame != nextFrame_) {
        rate_ = block.sampleRate;
        factor_ = std::max<std::size_t>(1, static_cast<std::size_t>(rate_ / analysisRate));
        restart();
        earliest_ = {};
        late_.reset();
    }
    if (noteArrival(block)) {
        // The beats heard so far were on the old count of frames; the tracker starts again
        // from the sound after the gap, while the clock keeps the grid it had.
        restart();
    }
    const std::size_t hopLength = hopFrames * factor_;
    std::size_t done = 0;
    for (; done + hopLength <= block.frames && detector_->usable(); done += hopLength) {
        step(sound + done, block.firstFrame + done);
    }
    nextFrame_ = block.firstFrame + done;
}

bool BeatTracker::noteArrival(const SoundTap::Block& block) {
    // When the input's frame 0 would have arrived, had every frame come as early as this read's
    // newest did. A frame is never early, only late by the server's and the system's delays:
    // the earliest of the last few seconds is the truest, and the sound's own count of frames
    // places the beats between, free of the jitter of a busy machine.
    const double start =
        seconds(block.newestArrival) - (static_cast<double>(block.framesWritten) - 1.0) / rate_;
    const double now = seconds(block.newestArrival);
    if (start > frameStart() + gapTolerance) {
        late_ = late_ ? Late{std::min(late_->start, start), late_->since} : Late{start, now};
        if (now - late_->since < gapConfirmation) {
            return false;
        }
        earliest_ = {late_->start, std::numeric_limits<double>::infinity(), now};
        late_.reset();
        return true;
    }
    late_.reset();
    if (now - earliest_.since > arrivalMemory) {
        earliest_.previous = earliest_.current;
        earliest_.current = start;
        earliest_.since = now;
    }
    earliest_.current = std::min(earliest_.current, start);
    return false;
}

double BeatTracker::frameStart() const {
    return std::min(earliest_.current, earliest_.previous);
}

bool BeatTracker::waitedSilent(double seconds) {
    silentFor_ += seconds;
    if (silentFor_ >= silenceHold && !state_.silent) {
        // The grid goes with the music: what comes back is locked afresh.
        state_.silent = true;
        state_.grid.reset();
        publish();
    }
    return state_.silent;
}

double BeatTracker::keptPhase(double beat, double period) {
    // Within an eighth of a period of the beats had, the new one follows them; a phase further
    // off (the other half of a bar, an off-beat that was loud for a moment) is taken only once
    // the choices of a second agree on it.
    const double kept = phase_ ? *phase_ + std::round((beat - *phase_) / period) * period : beat;
    const bool near = std::abs(beat - kept) <= period / 8.0;
    const bool agreed =
        otherPhase_ && std::abs(std::remainder(beat - *otherPhase_, period)) <= period / 8.0;
    otherPhases_ = near ? 0 : agreed ? otherPhases_ + 1 : 1;
    otherPhase_ = near ? std::nullopt : std::optional(beat);
    if (!phase_ || near || static_cast<double>(otherPhases_) >= steadyFor / choiceInterval) {
        phase_ = beat;
        otherPhases_ = 0;
        return beat;
    }
    return kept;
}

void BeatTracker::restart() {
    detector_ = std::make_unique<Detector>(*functions_, rate_ / static_cast<double>(factor_));
    novelty_.clear();
    loudness_.clear();
    choices_.clear();
    phase_.reset();
    otherPhase_.reset();
    otherPhases_ = 0;
}

void BeatTracker::step(const float* sound, std::uint64_t firstFrame) {
    // Each frame of the hop is the mean of `factor_` frames of the input.
    float power = 0.0f;
    for (std::size_t frame = 0; frame < hopFrames; ++frame) {
        float sum = 0.0f;
        for (std::size_t part = 0; part < factor_; ++part) {
            sum += sound[frame * factor_ + part];
        }
        hop_[frame] = sum / static_cast<float>(factor_);
        power += hop_[frame] * hop_[frame];
    }
    power /= static_cast<float>(hopFrames);
    const std::size_t hopLength = hopFrames * factor_;
    const bool quiet = power < silentPower;
    if (!quiet) {
        silentFor_ = 0.0;
    }
    // While silent, and when the music comes back, the tracker starts afresh from the next hop.
    if (quiet ? waitedSilent(static_cast<double>(hopLength) / rate_) : state_.silent) {
        restart();
        if (!quiet) {
            state_.silent = false;
            publish();
        }
        return;
    }
    novelty_.push_back(detector_->novelty(hop_.data()));
    loudness_.push_back(std::sqrt(power));
    const double hopsPerSecond = rate_ / static_cast<double>(hopLength);
    while (static_cast<double>(novelty_.size()) > noveltyMemory * hopsPerSecond) {
        novelty_.pop_front();
        loudness_.pop_front();
    }
    if (++sinceChoice_ < static_cast<std::size_t>(choiceInterval * hopsPerSecond)) {
        return;
    }
    sinceChoice_ = 0;
    const std::vector<float> novelty(novelty_.begin(), novelty_.end());
    std::optional<TempoChoice> choice = chooseTempo(novelty, hopsPerSecond, minimum_);
    if (!choice) {
        return;
    }
    if (std::reduce(novelty.begin(), novelty.end(), 0.0) <
        leastChange * std::reduce(loudness_.begin(), loudness_.end(), 0.0)) {
        choice->confidence = 0.0;
    }
    choices_.push_back(*choice);
    while (static_cast<double>(choices_.size()) > steadyFor / choiceInterval) {
        choices_.pop_front();
    }
    const bool steady =
        static_cast<double>(choices_.size()) >= steadyFor / choiceInterval &&
        std::all_of(choices_.begin(), choices_.end(), [&](const TempoChoice& earlier) {
            return earlier.confidence >= steadyConfidence &&
                   std::abs(earlier.period / choice->period - 1.0) <= steadyShare;
        });
    // While the frames may be after a gap, their place on the clock is not known.
    if (late_) {
        return;
    }
    // The newest beat, on the clock.
    const double newestHop = static_cast<double>(firstFrame) / rate_;
    const double beat =
        keptPhase(newestHop - choice->sinceBeat - noveltyDelay / hopsPerSecond, choice->period) +
        frameStart();
    const bool wasSteady = state_.grid.has_value();
    state_.grid = steady ? std::optional(BeatGrid{beat, choice->period}) : std::nullopt;
    // Unsure once a tempo was had, until the choices agree again.
    state_.unsure = !steady && (wasSteady || state_.unsure);
    if (steady || wasSteady) {
        publish();
    }
}
