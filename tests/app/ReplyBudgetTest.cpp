// The reply budget: rate, byte rate and amplification limits over a fake clock, what earns it
// credit in a running controller, and the quoting of a request's text in error answers.
#include "app/remote/ReplyBudget.h"

#include <gtest/gtest.h>

#include "app/settings/SettingsKeys.h"
#include "app/settings/values/DisplayText.h"
#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "tests/app/support/AppTestEnvironment.h"
#include "tests/app/support/ControllerTestFixture.h"

namespace {

using namespace std::chrono_literals;

// One step of a scenario: at `at` after the start, `received` bytes arrive (when not 0), then
// `replies` replies of `bytes` each are asked for; `allowed` of them may go.
struct Step {
    std::chrono::milliseconds at;
    size_t received;
    size_t replies;
    size_t bytes;
    size_t allowed;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

TEST(ReplyBudgetTest, RepliesStayWithinRateBytesAndAmplification) {
    const Scenario scenarios[] = {
        {"nothing received earns nothing", {{0ms, 0, 3, 10, 0}}},
        {"three times what arrived", {{0ms, 100, 4, 100, 3}}},
        {"credit left over is kept", {{0ms, 100, 1, 250, 1}, {10ms, 0, 2, 30, 1}}},
        {"at most 20 a second however much arrives",
         {{0ms, 60000, 30, 40, 20}, {500ms, 0, 5, 40, 0}, {1000ms, 0, 5, 40, 5}}},
        {"the second slides: no double rate across a boundary",
         {{0ms, 60000, 10, 40, 10}, {900ms, 0, 15, 40, 10}, {1100ms, 0, 15, 40, 10}}},
        {"at most 32 KiB a second",
         {{0ms, 60000, 5, 8000, 4},
          {999ms, 0, 1, 700, 1},
          {1000ms, 0, 5, 8000, 4},
          {1001ms, 0, 1, 800, 0}}},
        {"banked credit is capped at 64 KiB",
         {{0ms, 1000000, 8, 8192, 4}, {1000ms, 0, 8, 8192, 4}, {2000ms, 0, 8, 8192, 0}}},
        {"a huge count does not wrap round", {{0ms, SIZE_MAX, 1, 1000, 1}}},
    };
    // The allowance is tried on its own below.
    ReplyBudget::Limits withoutAllowance;
    withoutAllowance.allowancePerSecond = 0;
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        MonotonicTime now{std::chrono::hours(5)};
        const MonotonicTime start = now;
        ReplyBudget budget([&now] { return now; }, withoutAllowance);
        size_t refused = 0;
        for (const Step& step : scenario.steps) {
            now = start + step.at;
            if (step.received > 0) {
                budget.noteReceived(step.received);
            }
            size_t allowed = 0;
            for (size_t reply = 0; reply < step.replies; ++reply) {
                allowed += budget.allowReply(step.bytes) ? 1 : 0;
            }
            EXPECT_EQ(allowed, step.allowed) << "at " << step.at.count() << " ms";
            refused += step.replies - allowed;
        }
        EXPECT_EQ(budget.dropped(), refused);
    }
}

TEST(ReplyBudgetTest, AFloodOfSmallRequestsGetsBackAtMostThreeTimesItsBytes) {
    MonotonicTime now{};
    ReplyBudget budget([&now] { return now; });
    size_t in = 0;
    size_t out = 0;
    // Ten seconds of /kestrano/get (20 bytes) at 1000 a second, each asking for 22 answers of
    // about 40 bytes.
    for (int request = 0; request < 10000; ++request) {
        now += 1ms;
        budget.noteReceived(20);
        in += 20;
        for (int answer = 0; answer < 22; ++answer) {
            out += budget.allowReply(40) ? 40 : 0;
        }
    }
    // Three times what came, and the allowance of 2 KiB a second (and the one banked at first).
    EXPECT_LE(out, 3 * in + 2048 * 11);
    EXPECT_LE(out, size_t{20} * 40 * 11);
    EXPECT_GT(out, 0u);
}

TEST(ReplyBudgetTest, ALoneGetIsAnsweredFromTheAllowanceAndAFloodGainsOnlyItsRate) {
    MonotonicTime now{std::chrono::hours(1)};
    ReplyBudget budget([&now] { return now; });
    budget.noteReceived(20);
    EXPECT_TRUE(budget.allowReply(900)) << "a lone get";
    EXPECT_TRUE(budget.allowReply(900));
    EXPECT_FALSE(budget.allowReply(900)) << "the second's allowance is spent";
    now += 500ms;
    budget.noteReceived(20);
    EXPECT_TRUE(budget.allowReply(900)) << "half a second earned half the allowance";
    EXPECT_FALSE(budget.allowReply(900));
    now += 10s;
    EXPECT_TRUE(budget.allowReply(2000));
    EXPECT_FALSE(budget.allowReply(200)) << "banked no more than a second's worth";

    // Two further mappings make the answer three shares long; the byte rate still holds.
    budget.setAllowanceShares(3);
    now += 10s;
    EXPECT_TRUE(budget.allowReply(6000)) << "a lone get with two further mappings";
    EXPECT_FALSE(budget.allowReply(200));
    now += 10s;
    budget.setAllowanceShares(1);
    EXPECT_FALSE(budget.allowReply(2100)) << "back to one share";
}

QVOSCData messageWithText(const std::string& address, const std::string& text) {
    QVOSCMessage message(QVOSCAddress::addressWithString(address));
    message.attachArgument(QVOSCArgument::argumentWithString(text));
    return message.packetizedData();
}

class ReplyCreditTest : public ControllerTest {
  protected:
    size_t answeredGets(bool flooded);
};

// How many of ten /kestrano/get from an allowed peer are answered at once (the controller's
// clock stands still), after a flood of large commands from a refused source and of large
// non-command messages from the allowed peer when `flooded`.
size_t ReplyCreditTest::answeredGets(bool flooded) {
    clearStoredSettings();
    preferences.setBool(settings_keys::remoteControl, true);
    preferences.setString(settings_keys::remoteControlFrom, "127.0.0.1");
    const auto controller = startController();
    const auto port = static_cast<uint16_t>(controller->zandorexListenPort());
    UdpReceiver allowed;
    UdpReceiver refused("127.0.0.2");
    const std::string filler(1000, 'x');
    for (int datagram = 0; flooded && datagram < 20; ++datagram) {
        EXPECT_TRUE(refused.sendTo(port, messageWithText("/kestrano/set/address", filler)));
        EXPECT_TRUE(allowed.sendTo(port, messageWithText("/zandorex/cue", filler)));
    }
    const QVOSCData get =
        QVOSCMessage(QVOSCAddress::addressWithString("/kestrano/get")).packetizedData();
    for (int request = 0; request < 10; ++request) {
        EXPECT_TRUE(allowed.sendTo(port, get));
    }
    EXPECT_TRUE(allowed.sendTo(port, messageWithText("/zandorex/done", "")));
    EXPECT_TRUE(processEventsUntil(
        [&] {
            const auto& entries = controller->monitor().entries();
            return std::any_of(entries.begin(), entries.end(), [](const MonitorEntry& entry) {
                return entry.text.find("/zandorex/done") != std::string::npos;
            });
        },
        std::chrono::seconds(10)));
    size_t answers = 0;
    while (allowed.receive(std::chrono::milliseconds(100))) {
        ++answers;
    }
    return answers;
}

TEST_F(ReplyCreditTest, OnlyAdmittedCommandsEarnCreditForAnswers) {
    const size_t quiet = answeredGets(false);
    EXPECT_GE(quiet, 1u) << "a lone get is answered from the allowance";
    EXPECT_LT(quiet, 10u) << "the gets' own bytes cannot pay for ten answers";
    EXPECT_EQ(answeredGets(true), quiet);
}

TEST(DisplayTextTest, HostileTextIsEscapedAndQuotedShort) {
    const struct {
        std::string text;
        std::string escaped;
        std::string quoted;
    } cases[] = {
        {"/kestrano/set/minValue", "/kestrano/set/minValue", "/kestrano/set/minValue"},
        {"\x1b]0;owned\x07\r\n", "\\x1b]0;owned\\x07\\x0d\\x0a", "\\x1b]0;owned\\x07\\x0d\\x0a"},
        {std::string("a\0b\x7f\xc3\xa9", 6), "a\\x00b\\x7f\\xc3\\xa9", "a\\x00b\\x7f\\xc3\\xa9"},
        {std::string(64, 'x'), std::string(64, 'x'), std::string(64, 'x')},
        {std::string(65, 'x'), std::string(65, 'x'), std::string(64, 'x') + "..."},
        // An escape is never cut in half: 62 characters leave no room for a four-character one.
        {std::string(62, 'x') + "\x1b", std::string(62, 'x') + "\\x1b",
         std::string(62, 'x') + "..."},
        {std::string(1000, '\x1b'),
         [] {
             std::string all;
             for (int index = 0; index < 1000; ++index) {
                 all += "\\x1b";
             }
             return all;
         }(),
         [] {
             std::string sixteen;
             for (int index = 0; index < 16; ++index) {
                 sixteen += "\\x1b";
             }
             return sixteen + "...";
         }()},
    };
    for (const auto& [text, escaped, quoted] : cases) {
        EXPECT_EQ(escapedText(text), escaped);
        EXPECT_EQ(quotedRequestText(text), quoted);
        EXPECT_LE(quotedRequestText(text).size(), quoteLimit + 3);
    }
}

}  // namespace
