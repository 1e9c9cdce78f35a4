// Trigger thresholds and delays, and the smoothing of the continuous value, on the datagrams a
// real sender puts on the wire, against a clock the test sets.
#include <cstring>

#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

using namespace std::chrono_literals;
using PositionShapingTest = ControllerTest;

// The float argument of a level datagram to "/zandorex/".
float valueOf(const QVOSCData& datagram) {
    uint32_t bits = 0;
    for (size_t index = datagram.size() - 4; index < datagram.size(); ++index) {
        bits = bits << 8 | datagram[index];
    }
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct Tick {
    int milliseconds;
    float position;
};

struct Sent {
    int milliseconds;
    float value;
    friend bool operator==(const Sent&, const Sent&) = default;
};

void PrintTo(const Sent& sent, std::ostream* out) {
    *out << "{" << sent.milliseconds << " ms: " << sent.value << "}";
}

TEST_F(PositionShapingTest, TriggerSendsOneMessagePerTurnAfterItsThresholdsAndDelays) {
    struct Case {
        const char* name;
        float on, off;  // 0: the key is absent
        int onDelay, offDelay;
        std::vector<Tick> ticks;
        std::vector<Sent> sent;  // minimum 0, maximum 10
        int type = 1;            // trigger; 2 for silence
    };
    const std::vector<Tick> hovering = {{0, 0.45f},   {50, 0.55f},  {100, 0.48f}, {150, 0.52f},
                                        {200, 0.49f}, {250, 0.51f}, {300, 0.2f}};
    const std::vector<Case> cases = {
        {"no keys: every crossing of 0.5",
         0,
         0,
         0,
         0,
         {{0, 0.4f}, {50, 0.6f}, {100, 0.7f}, {150, 0.3f}, {200, 0.3f}},
         {{50, 10}, {150, 0}}},
        {"no hysteresis: a level hovering at 0.5 chatters",
         0,
         0,
         0,
         0,
         hovering,
         {{50, 10}, {100, 0}, {150, 10}, {200, 0}, {250, 10}, {300, 0}}},
        {"hysteresis 0.5 / 0.3: one turn on, one turn off",
         0.5f,
         0.3f,
         0,
         0,
         hovering,
         {{50, 10}, {300, 0}}},
        {"on threshold of its own, off threshold absent: the same for both",
         0.8f,
         0,
         0,
         0,
         {{0, 0.79f}, {50, 0.8f}, {100, 0.79f}},
         {{50, 10}, {100, 0}}},
        {"an off threshold above the on threshold counts as the on threshold",
         0.4f,
         0.9f,
         0,
         0,
         {{0, 0.5f}, {50, 0.6f}, {100, 0.39f}},
         {{0, 10}, {100, 0}}},
        {"on delay: the position must stay up 100 ms; a dip starts it over",
         0,
         0,
         100,
         0,
         {{0, 0.6f}, {50, 0.6f}, {80, 0.4f}, {130, 0.6f}, {180, 0.6f}, {230, 0.6f}, {280, 0.6f}},
         {{230, 10}}},
        {"on delay measured on the clock: fast ticks wait for 100 ms",
         0,
         0,
         100,
         0,
         {{0, 0.6f}, {30, 0.6f}, {60, 0.6f}, {90, 0.6f}, {100, 0.6f}},
         {{100, 10}}},
        {"on delay measured on the clock: a late tick counts for its real time",
         0,
         0,
         100,
         0,
         {{0, 0.6f}, {120, 0.6f}},
         {{120, 10}}},
        {"off delay with hysteresis: a rise above the off threshold starts it over",
         0.5f,
         0.3f,
         0,
         200,
         {{0, 0.9f}, {50, 0.2f}, {100, 0.2f}, {150, 0.35f}, {200, 0.2f}, {350, 0.2f}, {400, 0.2f}},
         {{0, 10}, {400, 0}}},
        {"silence: 300 ms below the on threshold sends the maximum once, sound the minimum",
         0.1f,
         0,
         300,
         0,
         {{0, 0.5f}, {50, 0.05f}, {200, 0.05f}, {350, 0.05f}, {400, 0.0f}, {450, 0.2f}},
         {{350, 10}, {450, 0}},
         2},
        {"silence with hysteresis 0.1 / 0.3 and an off delay: sound must stay up 100 ms",
         0.1f,
         0.3f,
         0,
         100,
         {{0, 0.05f}, {50, 0.2f}, {100, 0.35f}, {150, 0.05f}, {200, 0.4f}, {300, 0.4f}},
         {{0, 10}, {300, 0}},
         2},
        {"ticks without sound (-1) count toward no delay",
         0,
         0,
         100,
         0,
         {{0, 0.6f}, {50, -1}, {100, -1}, {150, 0.6f}, {200, 0.6f}},
         {{200, 10}}},
        {"silence: an off threshold below the on threshold counts as the on threshold",
         0.3f,
         0.1f,
         0,
         0,
         {{0, 0.2f}, {50, 0.25f}, {100, 0.3f}},
         {{0, 10}, {100, 0}},
         2},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        preferences.setFloat("triggerOnThreshold", c.on);
        preferences.setFloat("triggerOffThreshold", c.off);
        preferences.setInteger("triggerOnDelay", c.onDelay);
        preferences.setInteger("triggerOffDelay", c.offDelay);
        preferences.setInteger("type", c.type);
        const auto controller = startController();

        std::vector<Sent> sent;
        const MonotonicTime start = clockTime;
        for (const Tick& tick : c.ticks) {
            clockTime = start + std::chrono::milliseconds(tick.milliseconds);
            if (tick.position < 0) {
                capture->readings.clear();
                controller->updateAudioLevels();
            } else {
                controller->sendOSCMessageForPosition(tick.position);
            }
            // A datagram on loopback is waiting by the time the send returns.
            while (const auto datagram = receiver.receive(0ms)) {
                sent.push_back({tick.milliseconds, valueOf(*datagram)});
            }
        }
        EXPECT_EQ(sent, c.sent);
        clockTime += 1s;
    }
}

TEST_F(PositionShapingTest, SmoothingFollowsARiseWithTheAttackAndAFallWithTheRelease) {
    preferences.setInteger("attackTime", 100);
    preferences.setInteger("releaseTime", 500);
    const auto controller = startController();

    // One-pole: each tick moves by 1 - exp(-elapsed / time constant) of the remaining distance.
    const struct {
        int milliseconds;
        float position;
        float value;
    } ticks[] = {{0, 0.0f, 0.0f},     {50, 1.0f, 3.935f},  {100, 1.0f, 6.321f}, {150, 0.0f, 5.720f},
                 {350, 0.0f, 3.834f}, {350, 1.0f, 3.834f}, {2350, 1.0f, 10.0f}};
    const MonotonicTime start = clockTime;
    for (const auto& tick : ticks) {
        clockTime = start + std::chrono::milliseconds(tick.milliseconds);
        controller->sendOSCMessageForPosition(tick.position);
        EXPECT_NEAR(valueOf(nextDatagram()), tick.value, 0.002f) << tick.milliseconds << " ms";
    }
}

}  // namespace
