// The clock budget with and without "movestogo", its floors and option
// adjustments, the deadlines of a search, the easy factor and the stop rules
// after each iteration and in the aspiration loop (time_control_test.cpp has
// those of the periodic check).
#include <gtest/gtest.h>

#include <cmath>

#include "control/think.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "platform/clock.h"
#include "search/periodic_check.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "uci/command_loop.h"

namespace {

// Every test starts from the option defaults: one thread, not pondering.
class TimeBudgetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        overheadMs = 50;
        timeUsage = 0;
        useMCTS = 0;
        ponderCounter = 0;
        activeThreads = 1;
        moveTimeLimit = 0;
    }
    void TearDown() override { SetUp(); }
};

// One minute each, no increment, game ply 0, defaults: a = 59.5, k =
// 0.0044 * sqrt(3) + 0.011, 1107 ms less one per thread and the 50 ms
// overhead; the maximum keeps a tenth of the clock and the overhead back.
TEST_F(TimeBudgetTest, OneMinuteSuddenDeathWorkedExample) {
    TimeBudget b = computeTimeBudget(60.0, 0.0, 0, 0);
    EXPECT_NEAR(b.targetTime, 1.056, 1e-9);
    EXPECT_NEAR(b.maxTime, 53.9001, 1e-9);
}

// With "movestogo" the clock is shared among the moves left plus two, times
// a factor f that is 1.2 up to game ply 77 and then grows from 1 (one move
// to go) to 2 (forty or more), times 1.1, less the overhead and thread.
TEST_F(TimeBudgetTest, MovesToGoFactor) {
    struct Case {
        int movesToGo, gamePly;
        double factor;
    };
    const Case cases[] = {
        {40, 100, 2.0},
        {41, 100, 2.0},
        {60, 100, 2.0},
        {20, 100, std::pow(2.0, std::pow(0.5, 3.75))},
        {1, 78, std::pow(2.0, std::pow(0.025, 3.75))},
        {40, 77, 1.2},
        {60, 77, 1.2},
        {5, 0, 1.2},
    };
    for (const Case& c : cases) {
        TimeBudget b = computeTimeBudget(100.0, 0.0, c.movesToGo, c.gamePly);
        double expected = 100.0 / (c.movesToGo + 2) * c.factor * 1.1 - 0.051;
        EXPECT_NEAR(b.targetTime, expected, 1e-9) << c.movesToGo << " at ply " << c.gamePly;
        EXPECT_NEAR(b.maxTime, 0.9 * (100.0 - 0.01 - 0.1 - 0.001), 1e-9);
    }
    // Forty to go and more than forty are the same share late in the game.
    double per40 = computeTimeBudget(100.0, 0, 40, 100).targetTime + 0.051;
    double per41 = computeTimeBudget(100.0, 0, 41, 100).targetTime + 0.051;
    EXPECT_NEAR(per40 * 42, per41 * 43, 1e-9);
}

// Tiny and empty clocks still give a positive budget: 4 ms (sudden death) or
// 5 ms ("movestogo") to aim at, and a maximum of at least 2 ms (4 ms when
// the increment covers the overhead).
TEST_F(TimeBudgetTest, FloorsOnATinyClock) {
    struct Case {
        double time, increment;
        int movesToGo, overhead;
        double target, maxTime;
    };
    const Case cases[] = {
        {0.0, 0.0, 0, 50, 0.004, 0.002},   {0.001, 0.0, 0, 50, 0.004, 0.002},
        {0.001, 0.1, 0, 50, 0.004, 0.004}, {0.001, 0.0, 0, 0, 0.004, 0.004},
        {0.0, 0.0, 1, 50, 0.005, 0.004},   {0.02, 0.0, 30, 50, 0.005, 0.004},
    };
    for (const Case& c : cases) {
        overheadMs = c.overhead;
        TimeBudget b = computeTimeBudget(c.time, c.increment, c.movesToGo, 30);
        EXPECT_DOUBLE_EQ(b.targetTime, c.target) << c.time << " " << c.movesToGo;
        EXPECT_DOUBLE_EQ(b.maxTime, c.maxTime) << c.time << " " << c.movesToGo;
    }
}

// The increment is added after "Time Usage" has scaled the share of the
// clock: -90 leaves a tenth of that share, +90 nearly doubles it. Without
// an increment the whole clock beyond half a second counts; with one, the
// clock less the increment. Budgets are in whole milliseconds.
TEST_F(TimeBudgetTest, TimeUsageScalesTheClockShareOnly) {
    overheadMs = 0;
    activeThreads = 1;
    double k = 0.0044 * std::sqrt(23.0) + 0.011;
    double share = k * (600.0 - 2.0 - 0.5);
    struct Case {
        int usage;
        double scale;
    };
    for (Case c : {Case{0, 1.0}, Case{-90, 0.1}, Case{90, 1.9}}) {
        timeUsage = c.usage;
        double target = computeTimeBudget(600.0, 2.0, 0, 20).targetTime;
        EXPECT_NEAR(target, share * c.scale + 2.0 * 1.28 - 0.001, 0.0011) << c.usage;
    }
}

// A ponder search (and the "go" after it) aims higher: 1.3 times the share
// of a sudden-death clock, 1.33 times a "movestogo" budget. The Monte-Carlo
// search takes 2.5 times the clock share and 1.55 instead of 1.1.
TEST_F(TimeBudgetTest, PonderAndMonteCarloFactors) {
    overheadMs = 0;
    activeThreads = 1;
    double suddenDeath = computeTimeBudget(600.0, 0.0, 0, 20).targetTime + 0.001;
    double movesToGo = computeTimeBudget(600.0, 0.0, 30, 20).targetTime + 0.001;
    ponderCounter = 1;
    EXPECT_NEAR(computeTimeBudget(600.0, 0.0, 0, 20).targetTime + 0.001, 1.3 * suddenDeath, 0.004);
    EXPECT_NEAR(computeTimeBudget(600.0, 0.0, 30, 20).targetTime + 0.001, 1.33 * movesToGo, 1e-9);
    ponderCounter = 0;
    useMCTS = 1;
    EXPECT_NEAR(computeTimeBudget(600.0, 0.0, 0, 20).targetTime + 0.001, 2.5 * suddenDeath, 0.004);
    EXPECT_NEAR(computeTimeBudget(600.0, 0.0, 30, 20).targetTime + 0.001, movesToGo / 1.1 * 1.55, 1e-9);
}

// The hard limit is four to five times the target (five at the start of the
// game, four from ply 200 on), capped by the maximum and, below full
// strength, at five seconds; "movetime" uses the target for hard, soft and
// decisive limits alike.
TEST_F(TimeBudgetTest, Deadlines) {
    searchStartTime = 100.0;
    struct Case {
        double target, maxTime;
        int gamePly, skill;
        double moveTime, hard, soft, decisive;
    };
    const Case cases[] = {
        {1.0, 50.0, 0, 35, 0, 105.0, 100.75, 100.075},
        {1.0, 50.0, 100, 35, 0, 104.5, 100.75, 100.075},
        {1.0, 50.0, 201, 35, 0, 104.0, 100.75, 100.075},
        {1.0, 50.0, 900, 35, 0, 104.0, 100.75, 100.075},
        {1.0, 2.5, 0, 35, 0, 102.5, 100.75, 100.075},
        {4.0, 50.0, 0, 20, 0, 105.0, 103.0, 100.3},
        {0.5, 50.0, 0, 20, 0, 102.5, 100.375, 100.0375},
        {2.0, NO_TIME_LIMIT, 0, 35, 2.0, 102.0, 102.0, 102.0},
    };
    for (const Case& c : cases) {
        moveTimeLimit = c.moveTime;
        setupDeadlines(c.target, c.maxTime, c.gamePly, c.skill);
        EXPECT_DOUBLE_EQ(hardLimit, c.hard) << c.target << " " << c.gamePly;
        EXPECT_DOUBLE_EQ(softLimit, c.soft) << c.target;
        EXPECT_DOUBLE_EQ(decisiveLimit, c.decisive) << c.target;
        EXPECT_DOUBLE_EQ(extendLimit, 100 + 3 * c.target);
        EXPECT_DOUBLE_EQ(failHighLimit, 100 + 2 * c.target);
        EXPECT_DOUBLE_EQ(stableLimit, 100 + 1.5 * c.target);
        EXPECT_DOUBLE_EQ(mctsCheckpoint, 100 + 0.25 * c.target);
    }
    EXPECT_FALSE(timeUp);
    EXPECT_EQ(instability, 0.0);
    EXPECT_EQ(instabilityWeight, 0.75);
}

// x = 642 + 71 (|score| 31..89) - phase + 118 (fail low) - 2.4 * rise, at
// most 776; below 408, or when the score is under -250, 408 is used. Then
// times 1 + instability, and times 0.58 after iteration 10 with a settled
// best move.
TEST(EasyFactor, FollowsScoreTrendPhaseAndInstability) {
    struct Case {
        int iteration, score, previous, phase;
        bool failedLow;
        double instability, expected;
    };
    const Case cases[] = {
        {1, 0, 0, 96, false, 0, 546 / 700.0},
        {1, 50, -500, 0, false, 0, 713 / 700.0},  // no trend before iteration 2
        {1, -89, 0, 0, false, 0, 713 / 700.0},
        {1, 90, 0, 0, false, 0, 642 / 700.0},
        {3, 0, 100, 96, false, 0, 776 / 700.0},  // falling score, capped
        {3, 0, 10, 96, false, 0, 570 / 700.0},
        {3, 200, 0, 0, false, 0, 408 / 700.0},      // a big rise
        {3, -251, -251, 0, false, 0, 408 / 700.0},  // clearly worse
        {3, -250, -250, 0, false, 0, 642 / 700.0},
        {3, 0, 0, 96, true, 0, 664 / 700.0},
        {3, 0, 0, 96, false, 0.5, 1.5 * 546 / 700.0},
        {11, 0, 0, 96, false, 0, 0.58 * 546 / 700.0},
        {11, 0, 0, 96, false, 0.001, 1.001 * 546 / 700.0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(easyFactor(c.iteration, c.score, c.previous, c.phase, c.failedLow, c.instability),
                    c.expected, 1e-12)
            << c.iteration << " " << c.score << " " << c.previous;
    }
}

// After an iteration the soft limit moves to the easy factor times the
// target (not when the search was stopped, nor under "movetime"); the time
// is up past it, after a decisive score past 7.5 % of the target, or after
// iteration 5 with a single legal move under a clock.
TEST_F(TimeBudgetTest, AfterIteration) {
    searchStartTime = elapsedSeconds();
    setupDeadlines(10.0, 100.0, 0);
    afterIteration(1, 0, 0, 0, 96, 10.0, 20, false);
    EXPECT_NEAR(softLimit, searchStartTime + 10.0 * 546 / 700, 1e-9);
    EXPECT_FALSE(timeUp);
    afterIteration(2, 0, 0, 0, 96, 10.0, 20, true);
    EXPECT_NEAR(softLimit, searchStartTime + 10.0 * 546 / 700, 1e-9);

    // A short soft limit that has passed.
    searchStartTime = elapsedSeconds() - 1.0;
    setupDeadlines(0.5, 100.0, 0);
    afterIteration(1, 0, 0, 0, 96, 0.5, 20, false);
    EXPECT_TRUE(timeUp);

    // Decisive scores: 25000 and beyond, once 7.5 % of the target is gone.
    searchStartTime = elapsedSeconds() - 1.0;
    setupDeadlines(10.0, 100.0, 0);
    afterIteration(1, 24999, 0, 24999, 96, 10.0, 20, false);
    EXPECT_FALSE(timeUp);
    afterIteration(2, -25000, 24999, -25000, 96, 10.0, 20, false);
    EXPECT_TRUE(timeUp);
    searchStartTime = elapsedSeconds();
    setupDeadlines(100.0, 1000.0, 0);
    afterIteration(1, 30000, 0, 30000, 96, 100.0, 20, false);
    EXPECT_FALSE(timeUp);

    // One legal move: iteration 5 ends a clock search, not an unlimited one.
    searchStartTime = elapsedSeconds();
    setupDeadlines(100.0, 1000.0, 0);
    afterIteration(4, 0, 0, 0, 96, 100.0, 1, false);
    EXPECT_FALSE(timeUp);
    afterIteration(5, 0, 0, 0, 96, NO_TIME_LIMIT, 1, false);
    EXPECT_FALSE(timeUp);
    afterIteration(5, 0, 0, 0, 96, 100.0, 1, false);
    EXPECT_TRUE(timeUp);

    // "movetime": the soft limit stays at the target.
    moveTimeLimit = 2.0;
    searchStartTime = elapsedSeconds();
    setupDeadlines(2.0, NO_TIME_LIMIT, 0);
    afterIteration(3, 0, 0, 0, 96, 2.0, 20, false);
    EXPECT_DOUBLE_EQ(softLimit, searchStartTime + 2.0);
    EXPECT_FALSE(timeUp);
}

// A fail low keeps the iteration going past the extension limit; a genuine
// fail high (one thread, not analysing, one line, score under 390) cancels
// that once per fail low, and an exact result ends it.
TEST_F(TimeBudgetTest, AspirationLoopFlags) {
    analysisActive = false;
    multiPV = 1;
    searchStartTime = elapsedSeconds();
    setupDeadlines(100.0, 1000.0, 0);
    noteRootFailLow();
    EXPECT_TRUE(failLowSeen && failLowPending && !failLowCancelled);
    noteRootFailHigh(390, false);
    EXPECT_TRUE(failLowPending);
    activeThreads = 2;
    noteRootFailHigh(100, true);
    EXPECT_TRUE(failLowPending);
    activeThreads = 1;
    noteRootFailHigh(-389, false);
    EXPECT_TRUE(!failLowPending && failLowCancelled);
    noteRootFailLow();
    noteRootExact();
    EXPECT_FALSE(failLowPending || failLowCancelled);
    EXPECT_TRUE(failLowSeen);

    // Past the fail-high limit any fail high ends the extension, whatever
    // the thread count.
    activeThreads = 2;
    searchStartTime = elapsedSeconds() - 3.0;
    setupDeadlines(1.0, 1000.0, 0);
    noteRootFailLow();
    noteRootFailHigh(0, false);
    EXPECT_TRUE(!failLowPending && failLowCancelled);
}

}  // namespace
