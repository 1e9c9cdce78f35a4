// The beat grid's arithmetic: folding a tempo into its range, fitting a grid to the beats a
// tracker heard (some missing, some off), placing the next beat, tap tempo, and when the beat
// clock tells the tempo.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/run/QtMainLoop.h"
#include "app/tempo/BeatGrid.h"
#include "app/tempo/TapTempo.h"
#include "app/tempo/TempoClock.h"

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
// second; detected tempi are folded into the range first, and a silence holds the tempo.
TEST(TempoGridTest, TempoIsToldOnLockAndOnMovesOfHalfABpmAtMostTwiceASecond) {
    QtMainLoop loop;
    MonotonicTime now{};
    std::vector<float> told;
    int changes = 0;
    TempoClock clock(loop, [&] { return now; },
                     {[&](float bpm) { told.push_back(bpm); }, [](int32_t) {}, [&] { ++changes; }});
    clock.setMode(TempoMode::detect);
    const struct {
        double at;   // seconds
        double bpm;  // the tracker's, before folding
        bool silent;
        std::optional<float> told;
    } rows[] = {
        {0.0, 120.0, false, 120.0f},  // lock
        {0.1, 120.3, false, {}},      // a small move
        {0.2, 121.0, false, {}},      // half a BPM, but too soon
        {0.6, 121.0, false, 121.0f},  // and now
        {0.7, 60.5, false, {}},       // a tracker at half the tempo reads the same
        {1.2, 174.0, false, 87.0f},   // folded into [75, 150)
        {1.3, 0.0, true, {}},         // silence: nothing told, the tempo held
        {2.0, 87.2, false, {}},       // back, the same tempo
        {2.6, 100.0, false, 100.0f},
    };
    for (const auto& row : rows) {
        now = MonotonicTime(std::chrono::duration_cast<MonotonicTime::duration>(
            std::chrono::duration<double>(1000.0 + row.at)));
        const std::size_t before = told.size();
        clock.trackerState(
            row.silent ? std::nullopt : std::optional(BeatGrid{1000.0 + row.at, 60.0 / row.bpm}),
            row.silent);
        ASSERT_EQ(told.size(), before + (row.told ? 1 : 0)) << "at " << row.at << " s";
        if (row.told) {
            EXPECT_NEAR(told.back(), *row.told, 1e-3);
        }
        EXPECT_EQ(clock.status().held, row.silent) << "at " << row.at << " s";
    }
    EXPECT_NEAR(clock.status().bpm.value_or(0.0), 100.0, 1e-9);
    EXPECT_GT(changes, 0);

    // Taps are not taken in detect mode, nor the tracker's grid in tap mode.
    EXPECT_FALSE(clock.tap());
    clock.setMode(TempoMode::tap);
    clock.trackerState(BeatGrid{1003.0, 0.5}, false);
    EXPECT_FALSE(clock.status().bpm.has_value());
    EXPECT_TRUE(clock.tap());
}

}  // namespace
