// The beat grid's arithmetic: folding a tempo into its range, fitting a grid to the beats a
// tracker heard (some missing, some off), placing the next beat, tap tempo, and when the beat
// clock tells the tempo.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "app/run/QtMainLoop.h"
#include "app/tempo/BeatGrid.h"
#include "app/tempo/BeatTracker.h"
#include "app/tempo/TapTempo.h"
#include "app/tempo/TempoClock.h"
#include "app/tempo/TempoInduction.h"

namespace {

TEST(TempoGridTest, DetectedTempoFoldsIntoItsRange) {
    const struct {
        double bpm, minimum, folded;
    } rows[] = {
        {174.0, 75.0, 87.0},  {174.0, 100.0, 174.0}, {60.0, 75.0, 120.0},   {150.0, 75.0, 75.0},
        {149.9, 75.0, 149.9}, {40.0, 40.0, 40.0},    {400.0, 200.0, 200.0}, {30.0, 200.0, 240.0},
    };
    for (const auto& row : rows) {
        EXPECT_DOUBLE_EQ(foldTempo(row.bpm, row.minimum), row.folded)
            << row.bpm << " in [" << row.minimum << ", " << 2 * row.minimum << ")";
    }
}

TEST(TempoGridTest, GridFitsBeatsWithGapsAndStraysFinerThanTheRoughPeriod) {
    // 128 BPM heard from 100 s on with 6 ms of jitter, two beats missing and one stray on an
    // off-beat; the tracker's own period is 2 % off.
    const double period = 60.0 / 128.0;
    std::vector<double> times;
    for (int beat = 0; beat < 12; ++beat) {
        if (beat == 4 || beat == 7) {
            continue;
        }
        times.push_back(100.0 + beat * period + (beat % 3 - 1) * 0.006);
        if (beat == 9) {
            times.push_back(100.0 + (beat + 0.5) * period);
        }
    }
    const std::optional<BeatGrid> grid = fitBeatGrid(times, period * 1.02, 4);
    ASSERT_TRUE(grid.has_value());
    EXPECT_NEAR(60.0 / grid->period, 128.0, 0.5);
    // The anchor is the newest beat's place on the grid.
    EXPECT_NEAR(grid->anchor, 100.0 + 11 * period, 0.01);

    // Too few beats, or beats that agree on no grid, give none.
    EXPECT_FALSE(fitBeatGrid(std::vector<double>{1.0, 1.5, 2.0}, 0.5, 4).has_value());
    EXPECT_FALSE(fitBeatGrid(std::vector<double>{}, 0.5, 4).has_value());
    EXPECT_FALSE(fitBeatGrid(std::vector<double>{1.0, 1.2, 1.3, 1.6, 1.65}, 0.5, 4).has_value());
}

TEST(TempoGridTest, NextBeatKeepsStepWithTheLastOneSent) {
    const BeatGrid grid{10.0, 0.5};  // beats at 10.0, 10.5, ...
    const struct {
        const char* what;
        double period;  // the sent period
        std::optional<double> lastSent;
        double now;
        double next;
    } rows[] = {
        {"first beat: the grid's next point", 0.5, std::nullopt, 11.2, 11.5},
        {"a grid point now is no next beat", 0.5, std::nullopt, 11.5, 12.0},
        {"one period after the last", 0.5, 11.5, 11.6, 12.0},
        {"moved onto the grid", 0.5, 11.48, 11.6, 12.0},
        {"half the tempo steps every other point", 1.0, 11.5, 11.6, 12.5},
        {"twice the tempo steps between points", 0.25, 11.5, 11.6, 11.75},
        {"a beat just due still goes", 0.5, 11.5, 12.05, 12.0},
        {"a beat long overdue is left out", 0.5, 11.5, 12.2, 12.5},
        {"an old last beat starts afresh", 0.5, 5.0, 11.2, 11.5},
    };
    for (const auto& row : rows) {
        EXPECT_NEAR(nextBeat(grid, row.period, row.lastSent, row.now), row.next, 1e-9) << row.what;
    }
}

TEST(TempoGridTest, FourTapsWithinTheGapSetTheTempoAndPhase) {
    TapTempo taps;
    EXPECT_FALSE(taps.tap(1.0));
    EXPECT_FALSE(taps.tap(1.5));
    EXPECT_FALSE(taps.tap(2.0));
    // A bounce of the button is no tap: it neither counts nor breaks the series.
    EXPECT_FALSE(taps.tap(2.05));
    std::optional<BeatGrid> grid = taps.tap(2.5);
    ASSERT_TRUE(grid.has_value());
    EXPECT_NEAR(grid->period, 0.5, 1e-9);
    EXPECT_NEAR(grid->anchor, 2.5, 1e-9);
    // A fifth tap goes on with the series.
    grid = taps.tap(3.02);
    ASSERT_TRUE(grid.has_value());
    EXPECT_NEAR(60.0 / grid->period, 118.0, 2.0);

    // A gap of more than 2 s starts a new series: three taps give nothing yet, the fourth a new
    // tempo of its own.
    EXPECT_FALSE(taps.tap(5.5));
    EXPECT_FALSE(taps.tap(6.25));
    EXPECT_FALSE(taps.tap(7.0));
    grid = taps.tap(7.75);
    ASSERT_TRUE(grid.has_value());
    EXPECT_NEAR(60.0 / grid->period, 80.0, 1e-6);
}

// The tempo message goes once on lock, then on each move of half a BPM or more, at most twice a
// second; detected tempi are folded into the range first, and a silence or an unsure tracker
// holds the tempo.
TEST(TempoGridTest, TempoIsToldOnLockAndOnMovesOfHalfABpmAtMostTwiceASecond) {
    QtMainLoop loop;
    MonotonicTime now{};
    std::vector<float> told;
    int changes = 0;
    TempoClock clock(loop, [&] { return now; },
                     {[&](float bpm) { told.push_back(bpm); }, [](int32_t) {}, [&] { ++changes; }});
    clock.setMode(TempoMode::detect);
    enum Heard { locked, silent, unsure };
    const struct {
        double at;   // seconds
        double bpm;  // the tracker's, before folding
        Heard heard;
        std::optional<float> told;
    } rows[] = {
        {0.0, 120.0, locked, 120.0f},  // lock
        {0.1, 120.3, locked, {}},      // a small move
        {0.2, 121.0, locked, {}},      // half a BPM, but too soon
        {0.6, 121.0, locked, 121.0f},  // and now
        {0.7, 60.5, locked, {}},       // a tracker at half the tempo reads the same
        {1.2, 174.0, locked, 87.0f},   // folded into [75, 150)
        {1.3, 0.0, silent, {}},        // silence: nothing told, the tempo held
        {2.0, 87.2, locked, {}},       // back, the same tempo
        {2.3, 0.0, unsure, {}},        // the choices part: held, and said so
        {2.6, 100.0, locked, 100.0f},
    };
    for (const auto& row : rows) {
        now = MonotonicTime(std::chrono::duration_cast<MonotonicTime::duration>(
            std::chrono::duration<double>(1000.0 + row.at)));
        const std::size_t before = told.size();
        clock.trackerState(row.heard == locked
                               ? std::optional(BeatGrid{1000.0 + row.at, 60.0 / row.bpm})
                               : std::nullopt,
                           row.heard == silent, row.heard == unsure);
        ASSERT_EQ(told.size(), before + (row.told ? 1 : 0)) << "at " << row.at << " s";
        if (row.told) {
            EXPECT_NEAR(told.back(), *row.told, 1e-3);
        }
        EXPECT_EQ(clock.status().held, row.heard == silent) << "at " << row.at << " s";
        EXPECT_EQ(clock.status().unsure, row.heard == unsure) << "at " << row.at << " s";
    }
    EXPECT_NEAR(clock.status().bpm.value_or(0.0), 100.0, 1e-9);
    EXPECT_GT(changes, 0);

    // Taps are not taken in detect mode, nor the tracker's grid in tap mode.
    EXPECT_FALSE(clock.tap());
    clock.setMode(TempoMode::tap);
    clock.trackerState(BeatGrid{1003.0, 0.5}, false, false);
    EXPECT_FALSE(clock.status().bpm.has_value());
    EXPECT_TRUE(clock.tap());
}

// Novelty as the onset detector gives it, one value a hop (11025 / 64 a second) for `seconds`:
// each hit a rise of `strength` on its hop and half of it on the next, over a floor of noise.
constexpr double hopsPerSecond = 11025.0 / 64.0;
struct Hit {
    double beats;  // where in the bar, in beats from its start
    float strength;
};
std::vector<float> novelty(double bpm, const std::vector<Hit>& bar, double barBeats, double seconds,
                           double firstBeat) {
    std::vector<float> out(static_cast<std::size_t>(seconds * hopsPerSecond));
    std::minstd_rand noise(11);
    std::uniform_real_distribution<float> floor(0.0f, 0.1f);
    std::generate(out.begin(), out.end(), [&] { return floor(noise); });
    const double period = 60.0 / bpm;
    for (double start = firstBeat - 4 * barBeats * period; start < seconds;
         start += barBeats * period) {
        for (const Hit& hit : bar) {
            const double at = (start + hit.beats * period) * hopsPerSecond;
            if (at >= 0.0 && at + 1 < static_cast<double>(out.size())) {
                out[static_cast<std::size_t>(at)] += hit.strength;
                out[static_cast<std::size_t>(at) + 1] += hit.strength / 2;
            }
        }
    }
    return out;
}

// The tempo chosen over a few seconds of novelty: the beat's octave family, whatever repeats
// more strongly, and its member in the technician's range; the phase of the newest beat.
TEST(TempoGridTest, TempoChoiceTakesTheBeatsFamilyAndTheRangesMember) {
    // Kick and snare on the beats, hats on the eighths.
    const std::vector<Hit> rock{{0, 1.0f},   {1, 0.8f},   {2, 1.0f},   {3, 0.8f},
                                {0.5, 0.3f}, {1.5, 0.3f}, {2.5, 0.3f}, {3.5, 0.3f}};
    // A double kick in groups of three eighths over two bars, louder than the snare on the beats:
    // its strongest periodicity is a beat and a half, two thirds of the tempo.
    std::vector<Hit> groupsOfThree;
    for (int eighth = 0; eighth < 16; ++eighth) {
        groupsOfThree.push_back({eighth * 0.5, eighth % 3 == 0 ? 1.0f : 0.15f});
    }
    for (int beat = 0; beat < 8; ++beat) {
        groupsOfThree.push_back({static_cast<double>(beat), 0.45f});
    }
    // A slow song: a kick on one, a snare on three, little between.
    const std::vector<Hit> ballad{{0, 1.0f}, {2, 0.9f}, {1, 0.2f}, {3, 0.2f}};
    const struct {
        const char* what;
        double bpm;
        const std::vector<Hit>& bar;
        double barBeats;
        double minimum, chosen;
    } rows[] = {
        {"rock", 120.0, rock, 4, 75.0, 120.0},
        {"rock, a high range", 120.0, rock, 4, 130.0, 240.0},
        {"groups of three", 174.0, groupsOfThree, 8, 100.0, 174.0},
        {"groups of three, the default range", 174.0, groupsOfThree, 8, 75.0, 87.0},
        {"ballad", 95.0, ballad, 4, 75.0, 95.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const double firstBeat = 0.123;
        const std::vector<float> curve = novelty(row.bpm, row.bar, row.barBeats, 7.0, firstBeat);
        const std::optional<TempoChoice> choice = chooseTempo(curve, hopsPerSecond, row.minimum);
        ASSERT_TRUE(choice.has_value());
        // Within 0.4 %: a period of 40 hops is measured to a tenth of a hop.
        EXPECT_NEAR(60.0 / choice->period, row.chosen, row.chosen * 0.004);
        EXPECT_GT(choice->confidence, 0.2);
        // The newest beat, from the newest hop back, on the tempo's beats, or on its eighths when
        // the range asks for twice the tempo.
        const double newest = (static_cast<double>(curve.size()) - 1) / hopsPerSecond;
        const double beat = newest - choice->sinceBeat;
        const double off =
            std::remainder(beat - firstBeat, std::min(60.0 / row.bpm, choice->period));
        EXPECT_LT(std::abs(off), 0.012) << "beat at " << beat;
    }

    // Too short, or without a rise, gives none; noise gives a choice without confidence.
    EXPECT_FALSE(chooseTempo(std::vector<float>(2000, 0.5f), hopsPerSecond, 75.0).has_value());
    EXPECT_FALSE(chooseTempo(novelty(120.0, rock, 4, 3.0, 0.0), hopsPerSecond, 75.0).has_value());
    const auto unsure = chooseTempo(novelty(120.0, {}, 4, 7.0, 0.0), hopsPerSecond, 75.0);
    ASSERT_TRUE(unsure.has_value());
    EXPECT_LT(unsure->confidence, 0.2);
}

// A capture that stops for 1.3 s and goes on counts its frames on as if nothing was lost: the
// tracker must place the beats after the gap by when they arrive, not by the old count. The
// arrival times are given with the sound, so the tracker's thread may run at any speed.
TEST(TempoGridTest, TrackerKeepsThePhaseAfterAGapInTheCapture) {
    constexpr double rate = 48000.0, period = 0.5, firstBeat = 0.25, latency = 0.005;
    constexpr double gapAt = 8.0, gapLength = 1.3, end = 18.0;
    const double base =
        std::chrono::duration<double>(SoundTap::Clock::now().time_since_epoch()).count();
    // The music as it plays, by its own seconds: a kick on each beat.
    std::minstd_rand noise(3);
    std::uniform_real_distribution<float> white(-0.2f, 0.2f);
    const auto music = [&](double at) {
        const double since = std::fmod(at - firstBeat + 10 * period, period);
        return static_cast<float>(since > 0.12
                                      ? white(noise) * 0.05
                                      : (0.8 * std::sin(2 * M_PI * 70 * since) + white(noise)) *
                                            std::exp(-since * 30));
    };

    const auto tap = std::make_shared<SoundTap>(std::vector<unsigned>{}, 48000);
    std::mutex mutex;
    std::vector<BeatGrid> grids;
    std::atomic<BeatTracker*> tracker{nullptr};
    const std::string path = KESTRANO_BEAT_MODULE;
    const BeatModule module = openBeatModule(std::span(&path, 1));
    ASSERT_TRUE(module.functions) << module.error;
    BeatTracker running(module.functions, tap, 75.0, [&] {
        BeatTracker* const heard = tracker;
        const std::optional<BeatGrid> grid = heard ? heard->state().grid : std::nullopt;
        std::lock_guard lock(mutex);
        if (grid) {
            grids.push_back(*grid);
        }
    });
    tracker = &running;
    constexpr std::size_t chunk = 480;
    std::vector<float> sound(chunk);
    for (std::uint64_t frame = 0; frame / rate < end - gapLength; frame += chunk) {
        const double first = static_cast<double>(frame) / rate;
        // From the gap on, the music has gone on without the capture.
        const double played = first >= gapAt ? first + gapLength : first;
        for (std::size_t n = 0; n < chunk; ++n) {
            sound[n] = music(played + static_cast<double>(n) / rate);
        }
        const double arrival = base + played + (chunk - 1) / rate + latency;
        tap->write(
            sound.data(), chunk, 1, rate,
            SoundTap::Clock::time_point(std::chrono::duration_cast<SoundTap::Clock::duration>(
                std::chrono::duration<double>(arrival))));
        // The tracker reads eight hops at a time; it may not fall behind the arrivals.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (tap->unreadFrames() >= 2048 + chunk && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_LT(tap->unreadFrames(), 2048 + chunk) << "the tracker stopped reading";
    }
    std::lock_guard lock(mutex);
    tracker = nullptr;
    // From 4 s after the gap on, the grids fall on the music's beats.
    int late = 0;
    for (const BeatGrid& grid : grids) {
        const double at = grid.anchor - base - latency;
        if (at < gapAt + gapLength + 4.0) {
            continue;
        }
        ++late;
        const double offset = at - firstBeat - std::round((at - firstBeat) / period) * period;
        EXPECT_LT(std::abs(offset), 0.02) << "grid at " << at << " s";
        EXPECT_NEAR(grid.period, period, 0.005) << "grid at " << at << " s";
    }
    EXPECT_GE(late, 3);
}

}  // namespace
