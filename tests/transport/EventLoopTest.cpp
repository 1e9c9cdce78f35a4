#include "transport/EventLoop.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(EventLoopTest, RunsPostedCallsOnceInPostingOrderFromAnyThread) {
    EventLoop loop;
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 1000; ++i) {
            if (i % 2 == 0) {
                loop.postToMainThread([&order, i] { order.push_back(i); });
            } else {
                loop.postToMainQueue([&order, i] { order.push_back(i); });
            }
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == 1000; }, 5s));
    poster.join();
    loop.runUntil([] { return false; }, 20ms);
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST(EventLoopTest, ATimerFiresEachIntervalUntilInvalidated) {
    EventLoop loop;
    int firings = 0;
    const auto start = EventLoop::Clock::now();
    EventLoop::Clock::duration firstFiring{};
    auto timer = loop.scheduleRepeatingTimer(0.02, [&] {
        if (++firings == 1) {
            firstFiring = EventLoop::Clock::now() - start;
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return firings == 3; }, 2s));
    EXPECT_GE(firstFiring, 20ms);

    timer->invalidate();
    loop.runUntil([] { return false; }, 60ms);
    EXPECT_EQ(firings, 3);
}

TEST(EventLoopTest, DestroyingTheHandleStopsTheTimer) {
    EventLoop loop;
    int firings = 0;
    auto timer = loop.scheduleRepeatingTimer(0.01, [&] { ++firings; });
    timer.reset();
    loop.runUntil([] { return false; }, 50ms);
    EXPECT_EQ(firings, 0);
}

TEST(EventLoopTest, AFiringDueWhileTheLoopIsBusyRunsOnceLate) {
    EventLoop loop;
    int firings = 0;
    auto timer = loop.scheduleRepeatingTimer(0.01, [&] { ++firings; });
    // Five intervals pass with the loop busy in one call.
    loop.postToMainThread([] { std::this_thread::sleep_for(55ms); });
    loop.runUntil([&] { return firings == 1; }, 2s);
    const auto afterCatchUp = EventLoop::Clock::now();
    loop.runUntil([&] { return firings == 2; }, 2s);
    EXPECT_GE(EventLoop::Clock::now() - afterCatchUp, 8ms);
}

TEST(EventLoopTest, QuitEndsRunFromAnotherThread) {
    EventLoop loop;
    bool ran = false;
    loop.postToMainThread([&] { ran = true; });
    std::thread quitter([&] {
        std::this_thread::sleep_for(20ms);
        loop.quit();
    });
    loop.run();
    quitter.join();
    EXPECT_TRUE(ran);
}

TEST(EventLoopTest, AStreamOfPostedCallsDoesNotHoldTheLoopPastItsTimeOrStarveTimers) {
    EventLoop loop;
    std::function<void()> repost = [&] { loop.postToMainThread(repost); };
    loop.postToMainThread(repost);
    int firings = 0;
    auto timer = loop.scheduleRepeatingTimer(0.01, [&] { ++firings; });

    const auto start = EventLoop::Clock::now();
    EXPECT_FALSE(loop.runUntil([] { return false; }, 100ms));
    EXPECT_LT(EventLoop::Clock::now() - start, 2s);
    EXPECT_GE(firings, 3);
}
