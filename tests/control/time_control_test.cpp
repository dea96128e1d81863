// The simple clock budget and the periodic check's time and input handling.
#include <gtest/gtest.h>

#include "control/periodic_check.h"
#include "control/search_globals.h"
#include "control/search_thread.h"
#include "control/think.h"
#include "control/time_budget.h"
#include "platform/clock.h"
#include "uci/command_loop.h"
#include "uci/option_values.h"

namespace {

// Whatever the clock, the budget is positive, the target never exceeds the
// maximum, and the maximum leaves part of the clock unused.
TEST(TimeBudget, StaysInsideTheClock) {
    overheadMs = 50;
    struct Case {
        double time, increment;
        int movesToGo;
    };
    const Case cases[] = {{60, 0, 0}, {60, 1, 0},   {0.001, 0, 0}, {0, 0, 0},
                          {5, 10, 0}, {300, 0, 40}, {1, 0, 1}};
    for (const Case& c : cases) {
        TimeBudget b = computeTimeBudget(c.time, c.increment, c.movesToGo, 20);
        EXPECT_GT(b.targetTime, 0) << c.time;
        EXPECT_LE(b.targetTime, b.maxTime) << c.time;
        if (c.time > 1) {
            EXPECT_LT(b.maxTime, c.time) << c.time;
        }
    }
    // An increment is worth spending: more of it means more time now.
    EXPECT_GT(computeTimeBudget(60, 2, 0, 20).targetTime, computeTimeBudget(60, 0, 0, 20).targetTime);
    // Fewer moves to the control leave more time for each.
    EXPECT_GT(computeTimeBudget(60, 0, 10, 20).targetTime, computeTimeBudget(60, 0, 40, 20).targetTime);
}

class PeriodicCheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { processOneCommand(); }
    void SetUp() override {
        moveTimeLimit = 0;
        quietSearch = true;
        searchStartTime = elapsedSeconds();
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
        searchThreads[0]->stop.store(false);
        pondering.store(0);
    }
    void TearDown() override {
        searchThreads[0]->stop.store(false);
        pondering.store(0);
    }
    // Calls the check `calls` times; whether any call asked to stop.
    static bool anyStop(int calls) {
        bool stop = false;
        for (int i = 0; i < calls; i++) stop |= periodicCheck();
        return stop;
    }
};

// Past the hard limit the check stops thread 0 within 512 calls, unless
// the search is pondering; the soft limit's flag stops it the same way.
TEST_F(PeriodicCheck, StopsAtTheLimitsExceptWhilePondering) {
    hardLimit = elapsedSeconds() - 1;
    pondering.store(1);
    EXPECT_FALSE(anyStop(2048));
    EXPECT_FALSE(searchThreads[0]->stop.load());
    pondering.store(0);
    EXPECT_TRUE(anyStop(512));
    EXPECT_TRUE(searchThreads[0]->stop.load());

    searchThreads[0]->stop.store(false);
    setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
    EXPECT_FALSE(anyStop(2048));
    timeUp = true;
    EXPECT_TRUE(anyStop(512));
}

// Queued commands run from inside the search: "stop" ends it.
TEST_F(PeriodicCheck, RunsQueuedCommands) {
    queueInputLine("stop");
    EXPECT_TRUE(anyStop(512));
    EXPECT_TRUE(stopRequested.load());
    stopRequested.store(0);
}

}  // namespace
