#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// The input's sound handed from the capture's thread to one analysis thread (spectrum, tempo):
// the capture writes the mean of the chosen channels as it arrives, and never waits for the
// reader beyond a short copy; the reader takes what came. A reader that falls more than the
// capacity behind loses the oldest frames, counted, so that the hand-off stays bounded and the
// reader always works on the newest sound.
class SoundTap {
  public:
    using Clock = std::chrono::steady_clock;

    // What one read took.
    struct Block {
        std::size_t frames = 0;
        // The input's rate; 0 before the first frame. A change means a new input: frames of the
        // old rate not yet read are left out, so that a block never joins two inputs.
        double sampleRate = 0.0;
        // The count of the block's first frame among all frames written since the tap was made.
        std::uint64_t firstFrame = 0;
        // When the newest frame written so far arrived, and its count plus one: the reader
        // places any frame in time from these.
        Clock::time_point newestArrival{};
        std::uint64_t framesWritten = 0;
    };

    // `channels` counted from 1, empty for every channel; a chosen channel the input lacks is
    // left out, and with none of them present every channel is taken.
    SoundTap(std::vector<unsigned> channels, std::size_t capacityFrames);
    SoundTap(const SoundTap&) = delete;
    SoundTap& operator=(const SoundTap&) = delete;

    // Capture's thread: adds `frameCount` interleaved frames that arrived at `arrival`.
    void write(const float* samples, std::size_t frameCount, std::size_t channelCount,
               double sampleRate, Clock::time_point arrival);

    // Reader's thread: waits up to `timeout` for at least `minimumFrames` (or for stop()), then
    // copies at most `maximumFrames` of the oldest unread frames into `out`.
    Block read(float* out, std::size_t minimumFrames, std::size_t maximumFrames,
               std::chrono::milliseconds timeout);
    // Any thread: wakes a waiting read() at once, and every later one, so that its thread can end.
    void stop();
    // Called on the writer's thread after each write, for a reader that works there: a replay
    // feeds faster than real time, and its analysis keeps exact pace by reading as it is fed.
    // Set before the tap is first written to.
    void setWrittenHandler(std::function<void()> handler) { onWritten_ = std::move(handler); }

    std::uint64_t droppedFrames() const;
    // The frames written and not yet read: how far the reader is behind.
    std::uint64_t unreadFrames() const;
    // The channels chosen when the tap was made.
    const std::vector<unsigned>& channels() const { return channels_; }

    // A chosen channel the input lacks, as the last frames written found it.
    struct MissingChannel {
        unsigned channel = 0;
        std::size_t inputChannels = 0;
        bool everyChannel = false;  // none of the chosen was there: every channel is taken
    };
    std::optional<MissingChannel> missingChannel() const;

  private:
    std::size_t unreadLocked() const { return static_cast<std::size_t>(written_ - read_); }

    const std::vector<unsigned> channels_;
    void chooseChannels(std::size_t channelCount);

    // The capture thread's: the channels mixed for an input of takenOf_ channels, and one chunk
    // mixed to one channel.
    std::vector<std::size_t> taken_;
    std::size_t takenOf_ = 0;
    std::vector<float> mixed_;

    mutable std::mutex mutex_;
    std::condition_variable readable_;
    std::vector<float> ring_;  // guarded by mutex_
    std::uint64_t written_ = 0;
    std::uint64_t read_ = 0;
    std::uint64_t dropped_ = 0;
    std::size_t wantedFrames_ = 0;
    double sampleRate_ = 0.0;
    Clock::time_point newestArrival_{};
    bool stopped_ = false;
    std::optional<MissingChannel> missing_;
    std::function<void()> onWritten_;
};
