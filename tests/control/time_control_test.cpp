// The periodic check's stop rules: the time limits, the flags the search
// sets, pondering, and the commands it runs from the input queue.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "control/think.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "platform/clock.h"
#include "search/periodic_check.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "uci/command_loop.h"

namespace {

// Calls the check `calls` times; whether any call asked to stop. (It looks at
// the clock only every so many calls, so one call proves nothing.)
bool anyPeriodicStop(int calls) {
    bool stop = false;
    for (int i = 0; i < calls; i++) stop |= periodicCheck();
    return stop;
}

constexpr double PASSED = -1.0;        // a deadline a second ago
constexpr double FAR = NO_TIME_LIMIT;  // a deadline that never comes

// One row: the deadlines (seconds from now), the search's flags, a line
// queued as input, and whether the check stops thread 0.
struct StopRule {
    const char* what;
    double hardLimit = FAR;
    double extendLimit = FAR;
    int rootMove = 1;
    bool failLowPending = false;
    bool timeUp = false;
    bool pondering = false;
    bool alreadyStopped = false;
    const char* queued = nullptr;
    bool stops = false;
};

const StopRule stopRules[] = {
    {.what = "no limit reached"},
    {.what = "hard limit passed", .hardLimit = PASSED, .rootMove = 2, .stops = true},
    {.what = "hard limit passed while pondering", .hardLimit = PASSED, .rootMove = 2, .pondering = true},
    {.what = "soft limit's flag", .timeUp = true, .stops = true},
    {.what = "soft limit's flag while pondering", .timeUp = true, .pondering = true},
    {.what = "extension limit passed on the first root move", .extendLimit = PASSED, .stops = true},
    {.what = "extension limit passed on a later root move", .extendLimit = PASSED, .rootMove = 2},
    {.what = "extension limit passed with a fail low pending", .extendLimit = PASSED, .failLowPending = true},
    {.what = "extension limit passed while pondering", .extendLimit = PASSED, .pondering = true},
    {.what = "every limit passed while pondering",
     .hardLimit = PASSED,
     .extendLimit = PASSED,
     .timeUp = true,
     .pondering = true},
    {.what = "thread 0 already stopped", .alreadyStopped = true, .stops = true},
    {.what = "queued stop", .queued = "stop", .stops = true},
    {.what = "queued ponderhit past the hard limit",
     .hardLimit = PASSED,
     .pondering = true,
     .queued = "ponderhit",
     .stops = true},
};

class PeriodicCheck : public ::testing::TestWithParam<StopRule> {
  protected:
    // The command processor sets up its game on first use; the check runs
    // queued input through it, as the engine's start-up installs it.
    static void SetUpTestSuite() {
        processOneCommand();
        processQueuedInput = processOneCommand;
    }
    void SetUp() override {
        moveTimeLimit = 0;
        quietSearch = true;
        searchStartTime = elapsedSeconds();
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
        searchThreads[0]->stop.store(false);
        stopRequested.store(0);
        pondering.store(0);
    }
    void TearDown() override {
        searchThreads[0]->stop.store(false);
        stopRequested.store(0);
        pondering.store(0);
        timeUp = failLowPending = false;
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
    }
};

TEST_P(PeriodicCheck, StopsExactlyWhenTheRulesSay) {
    const StopRule& rule = GetParam();
    double now = elapsedSeconds();
    hardLimit = now + rule.hardLimit;
    extendLimit = now + rule.extendLimit;
    currentRootMoveNumber = rule.rootMove;
    failLowPending = rule.failLowPending;
    timeUp = rule.timeUp;
    pondering.store(rule.pondering ? 1 : 0);
    searchThreads[0]->stop.store(rule.alreadyStopped);
    if (rule.queued) queueInputLine(rule.queued);

    // Within 512 calls the check has done its work once; four times that
    // shows a rule that holds back.
    if (rule.stops)
        EXPECT_TRUE(anyPeriodicStop(512)) << rule.what;
    else
        EXPECT_FALSE(anyPeriodicStop(2048)) << rule.what;
    // The check stops the search through thread 0's flag.
    EXPECT_EQ(searchThreads[0]->stop.load(), rule.stops) << rule.what;
    EXPECT_EQ(stopRequested.load() != 0, rule.queued && std::string(rule.queued) == "stop") << rule.what;
}

INSTANTIATE_TEST_SUITE_P(StopRules, PeriodicCheck, ::testing::ValuesIn(stopRules),
                         [](const ::testing::TestParamInfo<StopRule>& info) {
                             std::string name;
                             for (const char* c = info.param.what; *c; c++)
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                                 else if (*c == ' ')
                                     name += '_';
                             return name;
                         });

}  // namespace
