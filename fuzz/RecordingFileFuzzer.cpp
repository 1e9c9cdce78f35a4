// libFuzzer target: a recording's bytes through the replay's reader (libsndfile and the checks
// around it). Whatever the bytes, a file is either refused or read to its end without a crash, a
// leak or a hang, and a file taken has a rate and channel count an input could have, and never
// hands on more frames than asked for. A violation aborts, so the fuzzer reports it.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/replay/RecordingFile.h"

namespace {

void require(bool holds) {
    if (!holds) {
        std::abort();
    }
}

// One scratch file for the process, gone from the folder at once so that nothing is left behind
// however the fuzzer ends: libsndfile reads files by name, and /proc names the open descriptor.
int scratchFile() {
    static const int descriptor = [] {
        std::string name = "/tmp/kestrano-recording-fuzz-XXXXXX";
        const int opened = mkstemp(name.data());
        require(opened != -1);
        unlink(name.c_str());
        return opened;
    }();
    return descriptor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int file = scratchFile();
    require(ftruncate(file, 0) == 0);
    require(size == 0 || pwrite(file, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(file);

    std::string problem;
    const auto recording = RecordingFile::open(path, problem);
    if (!recording) {
        require(!problem.empty());
        return 0;
    }
    require(recording->channelCount() >= 1 &&
            recording->channelCount() <= RecordingFile::kMostChannels);
    require(recording->sampleRate() >= RecordingFile::kLowestRate &&
            recording->sampleRate() <= RecordingFile::kHighestRate);
    constexpr std::size_t kPiece = 256;
    std::vector<float> piece(kPiece * recording->channelCount());
    // A file of a few kilobytes holds far fewer frames than this; more would be a reader that
    // never ends.
    std::size_t total = 0;
    while (const std::size_t frames = recording->read(piece.data(), kPiece)) {
        require(frames <= kPiece);
        total += frames;
        require(total < (std::size_t{1} << 26));
    }
    return 0;
}
