// The periodic check's time and input handling.
#include <gtest/gtest.h>

#include "control/think.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "periodic_check_test_util.h"
#include "platform/clock.h"
#include "search/periodic_check.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "uci/command_loop.h"

namespace {

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
};

// Past the hard limit the check stops thread 0 within 512 calls, unless
// the search is pondering; the soft limit's flag stops it the same way.
TEST_F(PeriodicCheck, StopsAtTheLimitsExceptWhilePondering) {
    hardLimit = elapsedSeconds() - 1;
    pondering.store(1);
    EXPECT_FALSE(anyPeriodicStop(2048));
    EXPECT_FALSE(searchThreads[0]->stop.load());
    pondering.store(0);
    EXPECT_TRUE(anyPeriodicStop(512));
    EXPECT_TRUE(searchThreads[0]->stop.load());

    searchThreads[0]->stop.store(false);
    setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
    EXPECT_FALSE(anyPeriodicStop(2048));
    timeUp = true;
    EXPECT_TRUE(anyPeriodicStop(512));
}

// Queued commands run from inside the search: "stop" ends it.
TEST_F(PeriodicCheck, RunsQueuedCommands) {
    processQueuedInput = processOneCommand;  // as the engine's start-up installs it
    queueInputLine("stop");
    EXPECT_TRUE(anyPeriodicStop(512));
    EXPECT_TRUE(stopRequested.load());
    stopRequested.store(0);
}

}  // namespace
