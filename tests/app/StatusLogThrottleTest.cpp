// Which headless status lines reach a log: changes at once, steady running once a minute.
#include <gtest/gtest.h>

#include "app/run/StatusLogThrottle.h"

namespace {

using namespace std::chrono_literals;

struct Line {
    std::chrono::seconds at;
    StatusLogState state;
    bool written;
};

TEST(StatusLogThrottleTest, WritesChangesAtOnceAndSteadyRunningOncePerInterval) {
    const StatusLogState sending{"mic", "", true, false, false, "", ""};
    const StatusLogState silent{"mic", "", false, false, false, "", ""};
    const StatusLogState noDevice{"", "", false, false, false, "", ""};
    const StatusLogState portTaken{"mic", "cannot listen on port 5001\n", true, false, false, "",
                                   ""};
    const StatusLogState clipped{"mic", "", true, true, false, "", ""};
    const StatusLogState oneChannel{"mic", "", true, false, true, "", ""};
    const StatusLogState cueFired{"mic", "", true, false, false, "stopped\n", ""};
    const StatusLogState locked{"mic", "", true, false, false, "", "found"};
    const StatusLogState held{"mic", "", true, false, false, "", "found held"};
    const std::vector<Line> lines = {
        {0s, sending, true},                              // the first line
        {1s, sending, false},                             // nothing changed
        {59s, sending, false},                            // still within the minute
        {60s, sending, true},                             // a minute after the last line written
        {61s, silent, true},                              // messages stopped
        {62s, silent, false},     {63s, noDevice, true},  // the device went away
        {64s, portTaken, true},  // an error appeared (and the device came back)
        {65s, portTaken, false},  {66s, sending, true},  // the error cleared
        {125s, sending, false},   {126s, sending, true},
        {127s, clipped, true},    {128s, clipped, false},  // the lamp lit and stays lit
        {129s, sending, true},                             // and went out
        {130s, oneChannel, true}, {131s, oneChannel, false},
        {132s, cueFired, true},   {133s, cueFired, false},  // a further mapping turned on
        {134s, sending, true},                              // and off
        {135s, locked, true},                               // the tempo was found
        {136s, locked, false},    {137s, held, true},       // and held in a silence
    };
    StatusLogThrottle throttle(1min);
    const StatusLogThrottle::Clock::time_point start;
    for (const Line& line : lines) {
        EXPECT_EQ(throttle.shouldWrite(line.state, start + line.at), line.written)
            << "at " << line.at.count() << " s";
    }
}

}  // namespace
