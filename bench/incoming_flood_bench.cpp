// kestrano --headless metering a -6 dBFS tone while its listen port is flooded over loopback by
// one sender, one kind after another: datagrams sent and dropped, level messages per second
// during and after each flood (20 is on time) beside those of a second program that nothing
// floods, and the flooded program's resident memory.
//
//   incoming_flood_bench [KESTRANO] [FLOOD_SECONDS] [AFTER_SECONDS]   (default: the one built
//   here, 10 and 5); PULSE_SERVER names a server with the sinks of tests/audio.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/audio/IncomingFlood.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    HeadlessLevelRun run(argc > 1 ? argv[1] : KESTRANO_PATH);
    HeadlessLevelRun control(argc > 1 ? argv[1] : KESTRANO_PATH);
    const auto floodTime = std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 10);
    const auto afterTime = std::chrono::seconds(argc > 3 ? std::atoi(argv[3]) : 5);
    SineTone tone("feed");
    if (!run.settingsStored || !run.program.started() || !receiveSteadyTone(run.zandorex, 6s) ||
        !control.settingsStored || !control.program.started() ||
        !receiveSteadyTone(control.zandorex, 6s)) {
        std::fprintf(stderr, "kestrano did not meter the tone\n%s",
                     run.program.errorOutput().c_str());
        return 1;
    }
    std::printf("%-36s %10s %10s %8s %8s %8s %8s %8s %8s %8s %8s\n", "flood kind", "sent/s",
                "dropped", "lvl/s", "control", "after", "control", "gap ms", "RSS MB", "peak",
                "after");
    for (const FloodKind& kind : floodKinds()) {
        const FloodFigures figures = floodProgram(run, control, kind, floodTime, afterTime);
        std::printf("%-36s %10.0f %10llu %8.1f %8.1f %8.1f %8.1f %8.0f %8.0f %8.0f %8.0f\n",
                    kind.name.c_str(),
                    static_cast<double>(figures.sent) / static_cast<double>(floodTime.count()),
                    static_cast<unsigned long long>(figures.dropped), figures.levelsPerSecondDuring,
                    figures.controlLevelsPerSecondDuring, figures.levelsPerSecondAfter,
                    figures.controlLevelsPerSecondAfter, figures.longestGapMs, figures.rssBeforeMB,
                    figures.rssPeakMB, figures.rssAfterMB);
        std::fflush(stdout);
    }
    return 0;
}
