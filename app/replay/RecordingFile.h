#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// A recording read through libsndfile (WAV, FLAC, Ogg, Opus, MP3 and the rest it knows) as
// 32-bit float frames at the file's own rate and channel count. A file is hostile until checked:
// a rate or channel count no input could have is refused, and a file that holds less than its
// header promises, or that fails while read, is told as damaged rather than quietly shortened.
class RecordingFile {
  public:
    // What an input of the sound server can have.
    static constexpr int kLowestRate = 1000;
    static constexpr int kHighestRate = 384000;
    static constexpr int kMostChannels = 32;

    // The file at `path`, or nothing with `problem` saying why it cannot be replayed.
    static std::unique_ptr<RecordingFile> open(const std::string& path, std::string& problem);
    ~RecordingFile();
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;

    std::size_t channelCount() const { return channelCount_; }
    double sampleRate() const { return sampleRate_; }
    // The frames the file holds, as far as its reader can tell; nothing for a stream.
    std::optional<std::int64_t> frameCount() const { return frameCount_; }

    // Reads up to `frames` interleaved frames into `out` (room for frames × channelCount()): how
    // many came, 0 at the end. After a short read, damage() tells whether the file was whole.
    std::size_t read(float* out, std::size_t frames);
    // Why the file ended before its header said it would, or failed while read; nothing while
    // it is whole as far as read.
    const std::optional<std::string>& damage() const { return damage_; }

  private:
    struct Handle;
    explicit RecordingFile(std::unique_ptr<Handle> handle);

    std::unique_ptr<Handle> handle_;
    std::size_t channelCount_ = 0;
    double sampleRate_ = 0.0;
    std::optional<std::int64_t> frameCount_;
    // What the header promised when the file holds less; what was read so far.
    std::optional<std::int64_t> promisedFrames_;
    std::int64_t framesRead_ = 0;
    std::optional<std::string> damage_;
};
