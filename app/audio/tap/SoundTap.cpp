#include "app/audio/tap/SoundTap.h"

#include <algorithm>

SoundTap::SoundTap(std::vector<unsigned> channels, std::size_t capacityFrames)
    : channels_(std::move(channels)), ring_(std::max<std::size_t>(capacityFrames, 1)) {}

void SoundTap::chooseChannels(std::size_t channelCount) {
    taken_.clear();
    std::optional<MissingChannel> missing;
    for (const unsigned channel : channels_) {
        if (channel >= 1 && channel <= channelCount)
            taken_.push_back(channel - 1);
        else if (!missing)
            missing = MissingChannel{channel, channelCount, false};
    }
    if (taken_.empty()) {
        for (std::size_t channel = 0; channel < channelCount; ++channel)
            taken_.push_back(channel);
        if (missing)
            missing->everyChannel = true;
    }
    takenOf_ = channelCount;
    std::lock_guard lock(mutex_);
    missing_ = missing;
}

std::optional<SoundTap::MissingChannel> SoundTap::missingChannel() const {
    std::lock_guard lock(mutex_);
    return missing_;
}

void SoundTap::write(const float* samples, std::size_t frameCount, std::size_t channelCount,
                     double sampleRate, Clock::time_point arrival) {
    if (frameCount == 0 || channelCount == 0)
        return;
    if (channelCount != takenOf_)
        chooseChannels(channelCount);
    mixed_.resize(frameCount);
    const float share = 1.0f / static_cast<float>(taken_.size());
    for (std::size_t frame = 0; frame < frameCount; ++frame) {
        float sum = 0.0f;
        for (const std::size_t channel : taken_)
            sum += samples[frame * channelCount + channel];
        mixed_[frame] = sum * share;
    }

    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (sampleRate != sampleRate_) {
            sampleRate_ = sampleRate;
            read_ = written_;
        }
        const std::size_t capacity = ring_.size();
        const float* from = mixed_.data();
        std::size_t count = frameCount;
        if (count > capacity) {  // only the newest capacity frames can be kept
            dropped_ += count - capacity;
            read_ += count - capacity;
            written_ += count - capacity;
            from += count - capacity;
            count = capacity;
        }
        // In at most two spans, the second from the ring's start: one division a chunk rather
        // than one a frame, which the capture's thread would pay on every chunk.
        const auto at = static_cast<std::size_t>(written_ % capacity);
        const std::size_t first = std::min(count, capacity - at);
        std::copy_n(from, first, ring_.begin() + static_cast<std::ptrdiff_t>(at));
        std::copy_n(from + first, count - first, ring_.begin());
        written_ += count;
        if (unreadLocked() > capacity) {
            dropped_ += unreadLocked() - capacity;
            read_ = written_ - capacity;
        }
        newestArrival_ = arrival;
        wake = unreadLocked() >= wantedFrames_;
    }
    if (wake)
        readable_.notify_one();
    if (onWritten_)
        onWritten_();
}

SoundTap::Block SoundTap::read(float* out, std::size_t minimumFrames, std::size_t maximumFrames,
                               std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    wantedFrames_ = std::min(std::max<std::size_t>(minimumFrames, 1), ring_.size());
    readable_.wait_for(lock, timeout, [&] { return stopped_ || unreadLocked() >= wantedFrames_; });
    Block block;
    block.frames = std::min(unreadLocked(), maximumFrames);
    block.sampleRate = sampleRate_;
    block.firstFrame = read_;
    block.newestArrival = newestArrival_;
    block.framesWritten = written_;
    const std::size_t capacity = ring_.size();
    const auto at = static_cast<std::size_t>(read_ % capacity);
    const std::size_t first = std::min(block.frames, capacity - at);
    std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(at), first, out);
    std::copy_n(ring_.begin(), block.frames - first, out + first);
    read_ += block.frames;
    return block;
}

void SoundTap::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    readable_.notify_all();
}

std::uint64_t SoundTap::droppedFrames() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::uint64_t SoundTap::unreadFrames() const {
    std::lock_guard lock(mutex_);
    return unreadLocked();
}
