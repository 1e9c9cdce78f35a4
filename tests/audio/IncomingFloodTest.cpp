// The whole program under floods of its listen port: the level output keeps its rate, the
// program lives, and its memory stays bounded.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include "tests/audio/IncomingFlood.h"

using namespace std::chrono_literals;

namespace {

TEST(IncomingFloodTest, LevelMessagesKeepTheirRateAndMemoryStaysBoundedUnderEachKindOfFlood) {
    HeadlessLevelRun run;
    ASSERT_TRUE(run.settingsStored);
    ASSERT_TRUE(run.program.started());
    SineTone tone("feed");
    ASSERT_TRUE(receiveSteadyTone(run.zandorex, 6s)) << run.program.errorOutput();

    uint64_t dropped = 0;
    std::optional<double> rssAtStartMB;
    for (const FloodKind& kind : floodKinds()) {
        SCOPED_TRACE(kind.name);
        const FloodFigures figures = floodProgram(run, kind, 3s, 3s);
        EXPECT_GT(figures.sent, 1000u);
        EXPECT_NEAR(figures.levelsPerSecondDuring, 20.0, 3.0);
        EXPECT_NEAR(figures.levelsPerSecondAfter, 20.0, 3.0);
        EXPECT_LT(figures.rssPeakMB - figures.rssBeforeMB, 50.0);
        // The memory comes back within the three seconds after, also after several floods.
        rssAtStartMB = rssAtStartMB.value_or(figures.rssBeforeMB);
        EXPECT_LT(figures.rssAfterMB - *rssAtStartMB, 10.0);
        dropped += figures.dropped;
    }
    // Not every kind outruns the main thread, but the heavy ones do; the status line says so.
    EXPECT_GT(dropped, 0u) << run.program.output();

    run.program.sendSignal(SIGTERM);
    EXPECT_EQ(run.program.wait(3s), 0) << run.program.errorOutput();
}

}  // namespace
