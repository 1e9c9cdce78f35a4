// triggerResponse=fast: the level of each short fragment the capture hands on goes through a
// trigger gate on the capture's thread, and a turn leaves at once, not at the next tick. The
// capture is a fake that hands fragments on as the test says; the clock is the test's.
#include <cmath>
#include <cstring>

#include <thread>

#include "app/control/mapping/FastTriggerGate.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

using namespace std::chrono_literals;
using FastTriggerTest = ControllerTest;

// The average power in dBFS that the tick's formula turns into `position` at amplification 1.
float decibelsFor(float position) {
    return 20.0f * std::log10(position * 10.0f / 20.0f);
}

TEST_F(FastTriggerTest, FragmentsTurnTheTriggerAtOnceWithItsHysteresisAndDelays) {
    struct Fragment {
        int milliseconds;
        float position;
    };
    struct Case {
        const char* name;
        const char* settings;  // extra KEY=VALUE lines, or ""
        std::vector<Fragment> fragments;
        std::vector<float> sent;  // minimum 0, maximum 10
    };
    const Case cases[] = {
        {"every crossing of 0.5", "", {{0, 0.4f}, {5, 0.6f}, {10, 0.7f}, {15, 0.3f}}, {10, 0}},
        {"hysteresis 0.5 / 0.3: a level hovering at 0.5 turns once",
         "triggerOffThreshold=0.3",
         {{0, 0.55f}, {5, 0.45f}, {10, 0.55f}, {15, 0.45f}, {20, 0.2f}},
         {10, 0}},
        {"an on delay of 20 ms: a 10 ms burst is not enough, a 25 ms one is",
         "triggerOnDelay=20",
         {{0, 0.9f}, {5, 0.9f}, {10, 0.1f}, {15, 0.9f}, {20, 0.9f}, {25, 0.9f}, {40, 0.9f}},
         {10}},
        {"inactive: nothing, and no stale turn once active again",
         "active=false",
         {{0, 0.9f}, {5, 0.1f}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearStoredSettings();
        preferences.setString("type", std::string("trigger"));
        preferences.setString("triggerResponse", std::string("fast"));
        if (*c.settings != '\0') {
            const std::string line = c.settings;
            const size_t equals = line.find('=');
            preferences.setString(line.substr(0, equals), line.substr(equals + 1));
        }
        const MonotonicTime start = clockTime;
        const auto controller = startController();
        ASSERT_EQ(capture->fastResponse(), true);
        std::vector<float> sent;
        for (const Fragment& fragment : c.fragments) {
            clockTime = start + std::chrono::milliseconds(fragment.milliseconds);
            capture->deliverFragment(decibelsFor(fragment.position), -6.0f);
            // The turn arrives through the main loop alone: the clock stands, no tick is due.
            processEventsFor(5ms);
            while (auto datagram = receiver.receive(20ms)) {
                uint32_t bits = 0;
                for (size_t index = datagram->size() - 4; index < datagram->size(); ++index) {
                    bits = bits << 8 | (*datagram)[index];
                }
                float value = 0.0f;
                std::memcpy(&value, &bits, sizeof value);
                sent.push_back(value);
                // The lamp shows the turn as it leaves, not one turn late.
                EXPECT_EQ(controller->status().mappings.front().on, value == 10.0f);
            }
        }
        EXPECT_EQ(sent, c.sent);
    }
}

TEST_F(FastTriggerTest, OnlyTriggerModeWithTheFastResponseAsksForFragments) {
    preferences.setString("triggerResponse", std::string("fast"));
    const auto controller = startController();
    EXPECT_FALSE(capture->fastResponse()) << "continuous mode keeps the tick";
    controller->setType(1);
    EXPECT_TRUE(capture->fastResponse());
    controller->settings().changeFromText("triggerResponse", "tick");
    EXPECT_FALSE(capture->fastResponse());
}

TEST_F(FastTriggerTest, SwitchingTheResponseHandsTheTriggerStateOver) {
    preferences.setString("type", std::string("trigger"));
    preferences.setString("triggerResponse", std::string("fast"));
    const auto controller = startController();
    capture->deliverFragment(decibelsFor(0.9f), -1.0f);
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 10.0f));
    // The tick takes over an 'on' trigger: the same loud level sends nothing more.
    controller->settings().changeFromText("triggerResponse", "tick");
    capture->readings = {{decibelsFor(0.9f)}};
    controller->updateAudioLevels();
    EXPECT_TRUE(nothingSent());
    // And hands it back: a quiet fragment turns it off.
    controller->settings().changeFromText("triggerResponse", "fast");
    capture->deliverFragment(decibelsFor(0.1f), -20.0f);
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/", 0.0f));
}

TEST_F(FastTriggerTest, EachFastMappingTurnsOnItsOwnMetersFragmentsFromTheCapturesThread) {
    preferences.setString("mappings", std::string("hat"));
    preferences.setString("hat/type", std::string("trigger"));
    preferences.setString("hat/triggerResponse", std::string("fast"));
    preferences.setString("hat/address", std::string("hat"));
    const auto controller = startController();
    // A fast mapping added while the program runs.
    SettingsModel& settings = controller->settings();
    for (const auto& [key, value] : {std::pair{"mappings", "hat,snare"},
                                     {"snare/type", "trigger"},
                                     {"snare/triggerResponse", "fast"},
                                     {"snare/address", "snare"}}) {
        ASSERT_EQ(settings.changeFromText(key, value), std::nullopt) << key;
    }
    ASSERT_EQ(capture->meters.size(), 3u);
    EXPECT_FALSE(capture->meters[0].fast) << "the first mapping stays continuous on the tick";
    EXPECT_TRUE(capture->meters[1].fast);
    EXPECT_TRUE(capture->meters[2].fast);
    // Loud fragments of the hat's meter and quiet ones of the snare's: only the hat turns.
    std::thread([this] {
        for (int fragment = 0; fragment < 4; ++fragment) {
            capture->deliverFragment(decibelsFor(0.9f), -1.0f, 1);
            capture->deliverFragment(decibelsFor(0.1f), -30.0f, 2);
        }
    }).join();
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 10.0f));
    EXPECT_TRUE(nothingSent());
    // A renamed fast mapping keeps its gate, on, and still hears its meter; the other keeps its
    // own.
    ASSERT_EQ(settings.renameMapping("hat", "hihat"), std::nullopt);
    ASSERT_EQ(capture->meters.size(), 3u);
    capture->deliverFragment(decibelsFor(0.9f), -1.0f, 2);
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/snare", 10.0f));
    capture->deliverFragment(decibelsFor(0.9f), -1.0f, 1);
    processEventsFor(5ms);
    EXPECT_TRUE(nothingSent()) << "no second cue";
    capture->deliverFragment(decibelsFor(0.1f), -30.0f, 1);
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/hat", 0.0f));
    // Without it, its meter's fragments reach no gate, and the snare's still reach its own.
    ASSERT_EQ(settings.changeFromText("mappings", "snare"), std::nullopt);
    ASSERT_EQ(capture->meters.size(), 2u);
    capture->deliverFragment(decibelsFor(0.1f), -30.0f, 1);
    processEventsFor(5ms);
    EXPECT_EQ(nextDatagram(), levelDatagram("/zandorex/snare", 0.0f));
    EXPECT_TRUE(nothingSent());
}

}  // namespace

namespace {

TEST(FastTriggerGateTest, AStalledMainThreadGetsTheNewestTurnsBoundedEndingInTheGatesState) {
    QtMainLoop mainLoop;
    std::vector<TriggerGate::Change> received;
    auto gate = std::make_unique<FastTriggerGate>(
        mainLoop, [] { return MonotonicTime{}; },
        [&received](TriggerGate::Change change) { received.push_back(change); });
    // Every fragment turns the trigger, while the main thread, busy, sets the conditions anew.
    constexpr int turns = 1001;
    std::thread capture([handler = gate->handler()] {
        for (int fragment = 0; fragment < turns; ++fragment) {
            handler(0, fragment % 2 == 0 ? 0.0f : -100.0f, 0.0f);
        }
    });
    for (int change = 0; change < 100; ++change) {
        gate->setConditions(FastTriggerGate::Conditions{});
    }
    capture.join();
    ASSERT_TRUE(gate->isOn());
    processEventsFor(50ms);
    ASSERT_FALSE(received.empty());
    EXPECT_LE(received.size(), FastTriggerGate::maximumPending);
    EXPECT_EQ(received.size() + gate->dropped(), size_t{turns});
    for (size_t index = 0; index < received.size(); ++index) {
        ASSERT_EQ(received[index],
                  index % 2 == 0 ? TriggerGate::Change::turnedOn : TriggerGate::Change::turnedOff)
            << "alternating, the oldest ones dropped; at " << index;
    }
    EXPECT_EQ(received.back(), TriggerGate::Change::turnedOn) << "the gate's own state comes last";

    // What is still posted when the gate goes is not handed on.
    const size_t receivedBefore = received.size();
    std::thread late([handler = gate->handler()] { handler(0, -100.0f, 0.0f); });
    late.join();
    gate.reset();
    processEventsFor(50ms);
    EXPECT_EQ(received.size(), receivedBefore);
}

}  // namespace
