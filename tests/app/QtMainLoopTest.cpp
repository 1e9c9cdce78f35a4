// The main-loop services on Qt's event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "app/run/QtMainLoop.h"
#include "tests/app/support/AppTestEnvironment.h"

namespace {

using namespace std::chrono_literals;

TEST(QtMainLoopTest, RepeatingTimerFiresUntilInvalidatedAlsoFromItsOwnAction) {
    QtMainLoop loop;
    int firings = 0;
    std::unique_ptr<RepeatingTimer> timer;
    timer = loop.scheduleRepeatingTimer(0.01, [&] {
        if (++firings == 3) {
            timer->invalidate();
        }
    });

    // Waited for, not slept on: a busy machine may hold a 10 ms timer back far longer. Then ten
    // intervals more, in which a timer that outlived its invalidation would fire again.
    ASSERT_TRUE(processEventsUntil([&] { return firings >= 3; }, 10s));
    processEventsFor(100ms);

    EXPECT_EQ(firings, 3);
}

TEST(QtMainLoopTest, DestroyingTheHandleStopsTheTimer) {
    QtMainLoop loop;
    int firings = 0;
    loop.scheduleRepeatingTimer(0.005, [&] { ++firings; });
    processEventsFor(50ms);
    EXPECT_EQ(firings, 0);
}

TEST(QtMainLoopTest, CallsPostedFromAnotherThreadRunOnTheMainThreadInOrder) {
    QtMainLoop loop;
    std::vector<int> order;
    bool allOnMainThread = true;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.postToMainThread([&, i] {
                order.push_back(i);
                allOnMainThread = allOnMainThread && QThread::currentThread() == qApp->thread();
            });
        }
        loop.postToMainQueue([&] { order.push_back(100); });
    });
    poster.join();
    EXPECT_TRUE(order.empty()) << "posting never runs the call at once";

    processEventsUntil([&] { return order.size() == 101; }, 2s);

    ASSERT_EQ(order.size(), 101u);
    for (int i = 0; i <= 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_TRUE(allOnMainThread);
}

TEST(QtMainLoopTest, CallsStillQueuedWhenTheLoopGoesAwayAreDroppedWithTheirData) {
    auto data = std::make_shared<int>(7);
    bool ran = false;
    {
        QtMainLoop loop;
        loop.postToMainThread([data, &ran] { ran = true; });
    }
    processEventsFor(20ms);
    EXPECT_FALSE(ran);
    EXPECT_EQ(data.use_count(), 1);
}

}  // namespace
