#include "app/audio/recording/RecordingPlayer.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/audio/pulse/PulsePreviewOutput.h"

namespace {

using Clock = std::chrono::steady_clock;

// The fragments a device's stream is asked for, fast or not.
constexpr double kFastPieceSeconds = MeterBank::kFragmentSeconds;
constexpr double kPieceSeconds = 0.010;
// A thread held up longer than this (a suspended program, a machine out of breath) carries on
// from now instead of rushing through the sound it missed, as a device's stream would lose it.
constexpr std::chrono::milliseconds kMostLag{200};

Clock::duration framesTime(std::int64_t frames, double sampleRate) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / sampleRate));
}

}  // namespace

RecordingPlayer::RecordingPlayer(std::unique_ptr<RecordingFile> recording, SoundPath& path,
                                 std::mutex& pathLock, const std::atomic<bool>& fast,
                                 FailureHandler onFailure)
    : recording_(std::move(recording)),
      path_(path),
      pathLock_(pathLock),
      fast_(fast),
      onFailure_(std::move(onFailure)),
      thread_([this] { run(); }) {}

RecordingPlayer::~RecordingPlayer() {
    {
        std::lock_guard lock(stopLock_);
        stopping_ = true;
    }
    stopAsked_.notify_all();
    thread_.join();
}

bool RecordingPlayer::waitUntil(Clock::time_point due) {
    std::unique_lock lock(stopLock_);
    return !stopAsked_.wait_until(lock, due, [this] { return stopping_; });
}

std::size_t RecordingPlayer::readPiece(float* samples, std::size_t frames) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (const std::size_t got = recording_->read(samples, frames); got > 0) {
            framesThisTime_ += static_cast<std::int64_t>(got);
            return got;
        }
        if (recording_->damage()) {
            onFailure_(*recording_->damage());
            return 0;
        }
        if (framesThisTime_ == 0) {
            onFailure_("the file holds no sound");
            return 0;
        }
        if (!recording_->rewind()) {
            onFailure_("cannot go back to its start to play it again");
            return 0;
        }
        framesThisTime_ = 0;
    }
    return 0;
}

void RecordingPlayer::run() {
    pthread_setname_np(pthread_self(), "recording");
    const std::size_t channels = recording_->channelCount();
    const double rate = recording_->sampleRate();
    std::vector<float> piece(MeterBank::kChunkFrames * channels);
    Clock::time_point start = Clock::now();
    std::int64_t played = 0;
    std::unique_ptr<PulsePreviewOutput> preview;
    while (true) {
        const bool fast = fast_.load(std::memory_order_relaxed);
        const std::size_t wanted = std::clamp<std::size_t>(
            static_cast<std::size_t>(
                std::lround(rate * (fast ? kFastPieceSeconds : kPieceSeconds))),
            1, MeterBank::kChunkFrames);
        const std::size_t frames = readPiece(piece.data(), wanted);
        if (frames == 0) {
            return;
        }
        played += static_cast<std::int64_t>(frames);
        // A piece is heard once its last frame would have come from a device.
        Clock::time_point due = start + framesTime(played, rate);
        if (Clock::now() - due > kMostLag) {
            start = Clock::now() - framesTime(played, rate);
            due = start + framesTime(played, rate);
        }
        if (!waitUntil(due)) {
            return;
        }
        {
            std::lock_guard lock(pathLock_);
            path_.feed(piece.data(), frames, channels, rate, fast, due);
        }
        // The preview connects once it is first heard, and only then.
        const float gain = path_.previewGain.load(std::memory_order_relaxed);
        if (gain > 0.0f) {
            if (!preview) {
                preview = std::make_unique<PulsePreviewOutput>(channels, rate);
            }
            preview->play(piece.data(), frames, gain);
        }
    }
}
