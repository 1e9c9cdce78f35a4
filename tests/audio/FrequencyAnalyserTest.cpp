// The spectrum of sound written to a tap, as the capture's thread writes it.
#include "app/audio/frequencies/FrequencyAnalyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr double rate = 48000.0;
constexpr std::size_t tapCapacity = 48000;

// Writes `seconds` of a sine of `frequency` Hz at `decibels` dBFS peak, stereo, with the right
// channel silent, in 10 ms pieces.
void writeSine(SoundTap& tap, double frequency, double decibels, double seconds,
               double sampleRate = rate) {
    const double amplitude = std::pow(10.0, decibels / 20.0);
    const auto piece = static_cast<std::size_t>(sampleRate / 100);
    std::vector<float> samples(2 * piece);
    std::size_t written = 0;
    for (std::size_t pieces = 0; pieces < static_cast<std::size_t>(seconds * 100); ++pieces) {
        for (std::size_t frame = 0; frame < piece; ++frame, ++written) {
            samples[2 * frame] =
                static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * frequency *
                                                        static_cast<double>(written) / sampleRate));
            samples[2 * frame + 1] = 0.0f;
        }
        tap.write(samples.data(), piece, 2, sampleRate, SoundTap::Clock::now());
    }
}

// Waits (generously) for a spectrum newer than `spectrum` that `done` accepts.
bool waitFor(const FrequencyAnalyser& analyser, FrequencyAnalyser::Spectrum& spectrum,
             const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < until) {
        if (analyser.takeNewer(spectrum) && done()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

double binFrequency(const FrequencyAnalyser::Spectrum& spectrum, std::size_t bin) {
    return static_cast<double>(bin) * spectrum.sampleRate / FrequencyAnalyser::windowFrames;
}

std::size_t loudestBin(const FrequencyAnalyser::Spectrum& spectrum) {
    return static_cast<std::size_t>(std::ranges::max_element(spectrum.decibels) -
                                    spectrum.decibels.begin());
}

// What the analyser reads from its tap is the sound as written, frame for frame, however the
// writes and reads fall across the end of the tap's ring.
TEST(FrequencyAnalyserTest, TheTapHandsOverEveryFrameInOrderAcrossItsRingsEnd) {
    SoundTap tap({}, 1000);
    std::vector<float> ramp(3000);
    std::vector<float> out(ramp.size());
    std::iota(ramp.begin(), ramp.end(), 0.0f);
    // Writes of 370 frames and reads of up to 530 meet the ring's end at ever other places.
    for (std::size_t written = 0, read = 0; read < ramp.size();) {
        const std::size_t piece = std::min<std::size_t>(370, ramp.size() - written);
        tap.write(ramp.data() + written, piece, 1, rate, SoundTap::Clock::now());
        written += piece;
        read += tap.read(out.data() + read, 1, 530, 0ms).frames;
    }
    EXPECT_EQ(out, ramp);
}

TEST(FrequencyAnalyserTest, AToneShowsAtItsFrequencyAndLevelWithLittleLeakage) {
    struct Row {
        double frequency;
        double decibels;
    };
    // The left channel only is chosen: the silent right one must not halve the level.
    for (const Row row : {Row{1000.0, -6.0}, Row{100.0, -20.0}, Row{12000.0, 0.0}}) {
        auto tap = std::make_shared<SoundTap>(std::vector<unsigned>{1}, tapCapacity);
        // Written before the analyser starts, so that every spectrum it makes is of a whole
        // window of the tone: a tone cut short leaks far wider than the window's own leakage.
        writeSine(*tap, row.frequency, row.decibels, 0.5);
        FrequencyAnalyser analyser(tap);
        FrequencyAnalyser::Spectrum spectrum;
        ASSERT_TRUE(waitFor(analyser, spectrum, [&] {
            return spectrum.decibels[loudestBin(spectrum)] > row.decibels - 3.0;
        })) << row.frequency;
        EXPECT_EQ(spectrum.sampleRate, rate);
        ASSERT_EQ(spectrum.decibels.size(), FrequencyAnalyser::windowFrames / 2 + 1);
        const std::size_t loudest = loudestBin(spectrum);
        EXPECT_NEAR(binFrequency(spectrum, loudest), row.frequency, rate / 4096) << row.frequency;
        // A Hann window reads a tone between bins at most 1.5 dB low.
        EXPECT_NEAR(spectrum.decibels[loudest], row.decibels, 1.6) << row.frequency;
        // An octave away the window's leakage is far down.
        const auto octaveAway =
            static_cast<std::size_t>(row.frequency * (row.frequency > 5000 ? 0.5 : 2.0) *
                                     FrequencyAnalyser::windowFrames / rate);
        EXPECT_LT(spectrum.decibels[octaveAway], row.decibels - 60.0) << row.frequency;
    }
}

TEST(FrequencyAnalyserTest, KeepsOnlyTheNewestAndStartsAfreshOnANewRate) {
    auto tap = std::make_shared<SoundTap>(std::vector<unsigned>{}, tapCapacity);
    FrequencyAnalyser analyser(tap);
    FrequencyAnalyser::Spectrum spectrum;
    EXPECT_FALSE(analyser.takeNewer(spectrum)) << "nothing before any sound";

    writeSine(*tap, 440.0, -12.0, 1.0);
    // A reader that looks late gets the newest spectrum, not the next in turn.
    FrequencyAnalyser::Spectrum probe;
    ASSERT_TRUE(waitFor(analyser, probe, [&] { return probe.number >= 5; }));
    ASSERT_TRUE(analyser.takeNewer(spectrum));
    EXPECT_GE(spectrum.number, probe.number);
    const std::uint64_t first = spectrum.number;
    // The same spectrum is not handed over twice: only a newer one.
    FrequencyAnalyser::Spectrum again = spectrum;
    EXPECT_TRUE(!analyser.takeNewer(again) || again.number > first);

    // An input at 44.1 kHz, less of it than a window: its bins are narrower, the tone is where
    // it is, and whatever spectrum of it comes first, the rest of its window is silence rather
    // than the old input's sound (which would read as a loud tone near 404 Hz).
    writeSine(*tap, 2000.0, -12.0, 0.05, 44100.0);
    ASSERT_TRUE(waitFor(analyser, spectrum, [&] {
        return spectrum.sampleRate == 44100.0 &&
               std::abs(binFrequency(spectrum, loudestBin(spectrum)) - 2000.0) < 11.0;
    }));
    EXPECT_GT(spectrum.number, first);
    const auto below1kHz =
        static_cast<std::ptrdiff_t>(1000.0 * FrequencyAnalyser::windowFrames / 44100.0);
    EXPECT_LT(*std::max_element(spectrum.decibels.begin(), spectrum.decibels.begin() + below1kHz),
              -45.0);
}

// A view that shows fewer spectra asks for fewer, and the analyser makes that many from each
// second of sound, also when their hop is longer than a window: counted in sound, not in time,
// so that a busy machine changes nothing. The first comes after the first window, the rest a
// hop of sound apart.
TEST(FrequencyAnalyserTest, MakesAsManySpectraASecondAsAsked) {
    for (const int spectraPerSecond : {10, 5}) {
        auto tap = std::make_shared<SoundTap>(std::vector<unsigned>{}, tapCapacity);
        writeSine(*tap, 440.0, -12.0, 1.0);
        FrequencyAnalyser analyser(tap, spectraPerSecond);
        const auto made = static_cast<std::uint64_t>(spectraPerSecond);
        FrequencyAnalyser::Spectrum spectrum;
        // Once less than a hop is left unread and a spectrum at least as new as the last one
        // wanted came, the analyser waits for more sound: no spectrum can follow.
        const auto hop = static_cast<std::uint64_t>(rate) / made;
        ASSERT_TRUE(waitFor(analyser, spectrum, [&] {
            return tap->unreadFrames() < hop && spectrum.number >= made;
        })) << spectraPerSecond;
        EXPECT_EQ(spectrum.number, made) << spectraPerSecond;
    }
}

}  // namespace
