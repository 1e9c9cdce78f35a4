// CPU time of the meters of several mappings on one input: 30 s (or the seconds given as the
// first argument) of generated 48 kHz stereo audio fed to a MeterBank in 10 ms chunks, as the
// capture's thread does, and read every 50 ms, as the tick does; then a fast trigger's meter,
// fed in 5 ms pieces (the fragments the fast path asks for) and in 1 ms pieces (a server that
// hands them over smaller, for a client asking less latency), each piece's levels handed on.
// Each layout runs three times; the least CPU time counts, since a busy machine only ever adds
// to it.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "app/audio/level/MeterBank.h"

namespace {

constexpr double kRate = 48000.0;
constexpr std::size_t kChannels = 2;
constexpr std::size_t kChunkFrames = 480;  // 10 ms
constexpr std::size_t kTickFrames = 2400;  // 50 ms

// Something like a band: a kick-like 60 Hz tone and a vocal-like 440 Hz one on the left, the
// same 440 Hz with hi-hat-like noise on the right.
std::vector<float> music(std::size_t frames) {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    std::vector<float> samples(frames * kChannels);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double time = static_cast<double>(frame) / kRate;
        const double voice = 0.2 * std::sin(2 * std::numbers::pi * 440 * time);
        samples[frame * 2] =
            static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * 60 * time) + voice);
        samples[frame * 2 + 1] = static_cast<float>(voice) + noise(random);
    }
    return samples;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double cpuSeconds(const std::vector<MeterSettings>& meters, const std::vector<float>& samples,
                  std::size_t pieceFrames = kChunkFrames) {
    double least = 0.0;
    for (int run = 0; run < 3; ++run) {
        MeterBank bank;
        bank.reset(kChannels, kRate);
        bank.configure(meters);
        const std::size_t pieces = samples.size() / kChannels / pieceFrames;
        float sink = 0.0f;
        // Handed on only with a fast meter, as the capture does.
        const bool fast = std::any_of(meters.begin(), meters.end(),
                                      [](const MeterSettings& meter) { return meter.fast; });
        const MeterBank::FragmentHandler onFragment = [&sink](std::size_t, float power, float) {
            sink += power;
        };
        const MeterBank::FragmentHandler none;
        const double begun = threadCpuSeconds();
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            bank.feed(&samples[piece * pieceFrames * kChannels], pieceFrames, kChannels, kRate,
                      fast ? onFragment : none);
            if ((piece + 1) * pieceFrames % kTickFrames == 0) {
                sink += bank.take().meters.back().levels.front();
            }
        }
        const double used = threadCpuSeconds() - begun;
        least = run == 0 ? used : std::min(least, used);
        // Read, so that the work cannot be left out.
        if (!std::isfinite(sink)) {
            std::printf("broken reading\n");
        }
    }
    return least;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const std::vector<float> samples = music(static_cast<std::size_t>(seconds * kRate));
    const MeterSettings kick{{1}, 0, 150, false};
    const MeterSettings hat{{}, 6000, 0, false};
    // Eight mappings as a show would have them: a few bands shared among channel choices.
    const std::vector<MeterSettings> sharedBands = {kick,
                                                    hat,
                                                    {{2}, 300, 3000, false},
                                                    {{1}, 300, 3000, false},
                                                    {{2}, 0, 150, false},
                                                    {{1}, 6000, 0, false},
                                                    {{2}, 6000, 0, false},
                                                    {{}, 0, 150, false}};
    // Eight mappings, each on a band of its own: the most filtering eight can ask for.
    std::vector<MeterSettings> ownBands;
    for (int band = 0; band < 8; ++band) {
        ownBands.push_back({{}, 40.0f * static_cast<float>(band + 1), 8000.0f, false});
    }
    const double one = cpuSeconds({kick}, samples);
    const double shared = cpuSeconds(sharedBands, samples);
    const double own = cpuSeconds(ownBands, samples);
    std::printf("CPU time to meter %.0f s of 48 kHz stereo in 10 ms chunks (least of 3 runs)\n",
                seconds);
    std::printf("%-44s %.3f s (%.2f%% of one core)\n", "1 band-filtered meter", one,
                100.0 * one / seconds);
    std::printf("%-44s %.3f s (%.2f%% of one core), %.2fx one\n",
                "8 band-filtered meters on 3 shared bands", shared, 100.0 * shared / seconds,
                shared / one);
    std::printf("%-44s %.3f s (%.2f%% of one core), %.2fx one\n",
                "8 band-filtered meters, 8 different bands", own, 100.0 * own / seconds, own / one);
    // The fast trigger's meter as the fast path has it by default: every channel, no band.
    const MeterSettings fast{{}, 0, 0, true};
    for (const std::size_t pieceFrames : {std::size_t{240}, std::size_t{48}}) {
        const double used = cpuSeconds({fast}, samples, pieceFrames);
        std::printf("%-44s %.3f s (%.2f%% of one core)\n",
                    ("1 fast meter, " + std::to_string(pieceFrames / 48) + " ms pieces").c_str(),
                    used, 100.0 * used / seconds);
    }
    return 0;
}
