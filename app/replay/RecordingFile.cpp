#include "app/replay/RecordingFile.h"

#include <sndfile.h>

#include <array>
#include <limits>
#include <sstream>

struct RecordingFile::Handle {
    SNDFILE* file = nullptr;
    ~Handle() {
        if (file != nullptr) {
            sf_close(file);
        }
    }
};

namespace {

// libsndfile sizes a truncated WAV or AIFF by what the file holds, without an error; its log
// keeps the header's own size beside it ("data : 192000 (should be 99956)"). The bytes the
// header promised and those the file holds, when the file holds less.
struct ShortData {
    std::int64_t promised = 0;
    std::int64_t held = 0;
};

std::optional<ShortData> shortData(SNDFILE* file) {
    std::array<char, 8192> log{};
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    std::istringstream lines(std::string(log.data()));
    for (std::string line; std::getline(lines, line);) {
        const bool dataChunk = line.starts_with("data") || line.starts_with("SSND");
        const std::size_t colon = line.find(':');
        const std::size_t should = line.find("(should be");
        if (!dataChunk || colon == std::string::npos || should == std::string::npos) {
            continue;
        }
        try {
            const long long promised = std::stoll(line.substr(colon + 1));
            const long long held = std::stoll(line.substr(should + 10));
            // A writer that streams marks the size unknown (0 or all ones): nothing promised.
            if (promised > held && held > 0 && promised != 0xFFFFFFFFLL) {
                return ShortData{promised, held};
            }
        } catch (const std::exception&) {
            // A log line of another shape promises nothing.
        }
    }
    return std::nullopt;
}

}  // namespace

RecordingFile::RecordingFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

RecordingFile::~RecordingFile() = default;

std::unique_ptr<RecordingFile> RecordingFile::open(const std::string& path, std::string& problem) {
    SF_INFO info{};
    auto handle = std::make_unique<Handle>();
    handle->file = sf_open(path.c_str(), SFM_READ, &info);
    if (handle->file == nullptr) {
        problem = path + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels < 1 || info.channels > kMostChannels) {
        problem = path + ": " + std::to_string(info.channels) +
                  " channels; an input has from 1 to " + std::to_string(kMostChannels);
        return nullptr;
    }
    if (info.samplerate < kLowestRate || info.samplerate > kHighestRate) {
        problem = path + ": a rate of " + std::to_string(info.samplerate) +
                  " Hz; an input runs at " + std::to_string(kLowestRate) + " to " +
                  std::to_string(kHighestRate) + " Hz";
        return nullptr;
    }
    std::unique_ptr<RecordingFile> recording(new RecordingFile(std::move(handle)));
    recording->channelCount_ = static_cast<std::size_t>(info.channels);
    recording->sampleRate_ = info.samplerate;
    if (info.frames > 0 && info.frames != std::numeric_limits<sf_count_t>::max()) {
        recording->frameCount_ = info.frames;
    }
    if (const auto data = shortData(recording->handle_->file); data && recording->frameCount_) {
        // The file's frames take its bytes evenly: the header's bytes make as many more.
        recording->promisedFrames_ = static_cast<std::int64_t>(
            static_cast<double>(data->promised) / static_cast<double>(data->held) *
            static_cast<double>(*recording->frameCount_));
    }
    return recording;
}

std::size_t RecordingFile::read(float* out, std::size_t frames) {
    if (damage_) {
        return 0;
    }
    const sf_count_t got = sf_readf_float(handle_->file, out, static_cast<sf_count_t>(frames));
    if (sf_error(handle_->file) != SF_ERR_NO_ERROR) {
        damage_ = std::string("damaged after ") + std::to_string(framesRead_) +
                  " frames: " + sf_strerror(handle_->file);
        return 0;
    }
    framesRead_ += got;
    if (got == 0 && promisedFrames_) {
        damage_ = "truncated: the header promises " + std::to_string(*promisedFrames_) +
                  " frames, the file holds " + std::to_string(framesRead_);
    }
    return static_cast<std::size_t>(got);
}
