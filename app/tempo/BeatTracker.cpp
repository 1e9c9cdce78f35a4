#include "app/tempo/BeatTracker.h"

#include <aubio/aubio.h>
#include <pthread.h>

#include <cmath>
#include <deque>
#include <vector>

namespace {

// Hops of 256 frames place beats within 6 ms at 44.1 kHz; the window of four hops is the
// tracker's usual one.
constexpr unsigned hopFrames = 256;
constexpr unsigned windowFrames = 1024;
// Below this mean square a hop counts as silent (-60 dBFS).
constexpr float silentPower = 1.0e-6f;
// The beats the grid is fitted to: the last few seconds, so that a change of tempo is followed.
constexpr double beatMemory = 6.0;
constexpr std::size_t mostBeats = 64;
constexpr int beatsToLock = 4;

double seconds(SoundTap::Clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// One aubio tempo tracker; made anew for each input rate and after each silence, so that the
// music that comes back is heard without the old one's beats.
class Aubio {
  public:
    explicit Aubio(double rate)
        : tempo_(new_aubio_tempo("default", windowFrames, hopFrames,
                                 static_cast<uint_t>(std::lround(rate)))),
          in_(new_fvec(hopFrames)),
          out_(new_fvec(1)) {
        if (tempo_ != nullptr) {
            // Its own silence gate drops beats that fall on a quiet hop just before a hit.
            aubio_tempo_set_silence(tempo_, -120.0f);
        }
    }
    ~Aubio() {
        if (tempo_ != nullptr) {
            del_aubio_tempo(tempo_);
        }
        del_fvec(in_);
        del_fvec(out_);
    }
    Aubio(const Aubio&) = delete;
    Aubio& operator=(const Aubio&) = delete;

    bool usable() const { return tempo_ != nullptr; }
    // One hop in; the frame of a beat heard, counted from the tracker's first frame.
    std::optional<uint_t> step(const float* hop) {
        for (unsigned frame = 0; frame < hopFrames; ++frame) {
            in_->data[frame] = hop[frame];
        }
        aubio_tempo_do(tempo_, in_, out_);
        if (out_->data[0] == 0.0f) {
            return std::nullopt;
        }
        return aubio_tempo_get_last(tempo_);
    }
    double period() const { return aubio_tempo_get_period_s(tempo_); }

  private:
    aubio_tempo_t* tempo_;
    fvec_t* in_;
    fvec_t* out_;
};

}  // namespace

BeatTracker::BeatTracker(std::shared_ptr<SoundTap> tap, std::function<void()> changed)
    : tap_(std::move(tap)), changed_(std::move(changed)), thread_([this] { run(); }) {}

BeatTracker::~BeatTracker() {
    ending_ = true;
    tap_->stop();
    thread_.join();
}

BeatTracker::State BeatTracker::state() {
    std::lock_guard lock(mutex_);
    told_ = false;
    return state_;
}

void BeatTracker::publish(const State& state) {
    {
        std::lock_guard lock(mutex_);
        state_ = state;
    }
    // One call waits at a time: the main thread takes the newest state whenever it comes to it.
    if (!told_.exchange(true)) {
        changed_();
    }
}

void BeatTracker::run() {
    pthread_setname_np(pthread_self(), "kestrano-tempo");
    std::vector<float> hop(hopFrames);
    std::unique_ptr<Aubio> tracker;
    double rate = 0.0;
    std::uint64_t trackerStart = 0;  // the tap's count of the tracker's first frame
    std::uint64_t nextFrame = 0;
    std::deque<double> beats;
    double silentFor = 0.0;
    State state;
    while (!ending_) {
        const SoundTap::Block block =
            tap_->read(hop.data(), hopFrames, hopFrames, std::chrono::milliseconds(200));
        if (block.frames < hopFrames || block.sampleRate <= 0.0) {
            continue;  // stopped, or no whole hop yet
        }
        // A new input, or frames lost to a slow reader: the tracker's count of frames restarts.
        if (!tracker || block.sampleRate != rate || block.firstFrame != nextFrame) {
            rate = block.sampleRate;
            tracker = std::make_unique<Aubio>(rate);
            trackerStart = block.firstFrame;
            beats.clear();
        }
        nextFrame = block.firstFrame + hopFrames;
        if (!tracker->usable()) {
            continue;
        }
        float power = 0.0f;
        for (const float sample : hop) {
            power += sample * sample;
        }
        power /= static_cast<float>(hopFrames);
        const double hopSeconds = hopFrames / rate;
        silentFor = power < silentPower ? silentFor + hopSeconds : 0.0;
        const bool silent = silentFor >= silenceHold;
        if (silent != state.silent) {
            state.silent = silent;
            if (silent) {
                tracker = std::make_unique<Aubio>(rate);
                trackerStart = block.firstFrame + hopFrames;
                beats.clear();
            }
            publish(state);
            continue;
        }
        if (silent) {
            continue;
        }
        const std::optional<uint_t> beat = tracker->step(hop.data());
        if (!beat) {
            continue;
        }
        // The beat's frame placed in time from when the newest frame arrived.
        const double frame = static_cast<double>(trackerStart) + *beat;
        const double time = seconds(block.newestArrival) -
                            (static_cast<double>(block.framesWritten) - 1.0 - frame) / rate;
        beats.push_back(time);
        while (beats.size() > mostBeats || (!beats.empty() && time - beats.front() > beatMemory)) {
            beats.pop_front();
        }
        const std::vector<double> times(beats.begin(), beats.end());
        if (const auto grid = fitBeatGrid(times, tracker->period(), beatsToLock)) {
            state.grid = grid;
            publish(state);
        }
    }
}
