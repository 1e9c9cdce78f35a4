#include "tests/support/Recordings.h"

#include "tests/support/ChildProcess.h"

std::filesystem::path makeRecording(const std::filesystem::path& folder, const std::string& name,
                                    const std::vector<std::pair<double, int>>& parts) {
    std::vector<std::string> join = {"/usr/bin/sox"};
    for (std::size_t index = 0; index < parts.size(); ++index) {
        const auto& [seconds, hertz] = parts[index];
        const std::string piece = (folder / (name + ".part" + std::to_string(index) + ".wav"));
        std::vector<std::string> make = {"/usr/bin/sox",
                                         "-n",
                                         "-r",
                                         "48000",
                                         "-c",
                                         "1",
                                         "-b",
                                         "16",
                                         piece,
                                         "synth",
                                         std::to_string(seconds),
                                         "sine",
                                         std::to_string(hertz),
                                         "vol",
                                         hertz > 0 ? "0.5" : "0"};
        if (runProgram(make).status != 0) {
            return {};
        }
        join.push_back(piece);
    }
    const auto joined = folder / name;
    join.push_back(joined.string());
    return runProgram(join).status == 0 ? joined : std::filesystem::path();
}
