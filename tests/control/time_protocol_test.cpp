// Time control seen from outside: the real binary over pipes. Pondering
// ignores the clock until "ponderhit", a pondering search that reached its
// depth waits, a single legal move is played at once, clock searches end
// well inside the mover's clock, and "quit" ends a search without an answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "../uci/engine_process.h"

namespace {

// Sanitizer builds run these too; searches that should stop get this long.
constexpr int SEARCH_TIMEOUT_MS = 60000;

using SteadyClock = std::chrono::steady_clock;

double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

class ProtocolTimeControl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.start());
        ASSERT_TRUE(engine.waitForLine("info string embedded NN is loaded"));
    }

    bool seen(const std::string& prefix) {
        for (const std::string& l : engine.linesRead())
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }

    // Waits for the progress line of a finished iteration `depth` (it has a pv).
    bool waitForIteration(int depth) {
        std::string prefix = "info depth " + std::to_string(depth) + " ";
        return engine
            .waitFor(
                [&](const std::string& l) {
                    return l.rfind(prefix, 0) == 0 && l.find(" pv ") != std::string::npos;
                },
                SEARCH_TIMEOUT_MS)
            .has_value();
    }

    // Lets the engine run, then shows that it is still listening and has not
    // answered: "isready" is served from inside the search.
    void expectStillSearching(int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        engine.send("isready");
        ASSERT_TRUE(engine.waitForLine("readyok", SEARCH_TIMEOUT_MS));
        EXPECT_FALSE(seen("bestmove"));
    }

    EngineProcess engine;
};

// A ponder search on a short clock runs far past its hard limit (about
// 0.05 s here) without answering; "ponderhit" restores the clock, which has
// long run out, and the answer follows at once.
TEST_F(ProtocolTimeControl, PonderhitSwitchesToTheClock) {
    engine.send("position startpos moves e2e4");
    engine.send("go ponder wtime 3000 btime 3000");
    ASSERT_TRUE(waitForIteration(2));
    expectStillSearching(500);
    SteadyClock::time_point hit = SteadyClock::now();
    engine.send("ponderhit");
    ASSERT_TRUE(engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value());
    EXPECT_LT(secondsSince(hit), 2.0);
}

// A ponder search that reached its depth waits for "stop" (or "ponderhit")
// before it answers.
TEST_F(ProtocolTimeControl, PonderAtItsDepthWaitsForStop) {
    engine.send("position startpos");
    engine.send("go ponder depth 2");
    ASSERT_TRUE(waitForIteration(2));
    expectStillSearching(300);
    engine.send("stop");
    EXPECT_TRUE(engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value());
}

// Black's only move is Ka7. Under a ten-minute clock (a target of about ten
// seconds) the search ends after iteration 5; an infinite search goes on.
TEST_F(ProtocolTimeControl, SingleLegalMoveIsPlayedAtOnce) {
    engine.send("position fen k7/8/8/8/8/8/8/1R5K b - - 0 1");
    SteadyClock::time_point start = SteadyClock::now();
    engine.send("go wtime 600000 btime 600000");
    std::optional<std::string> best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(best.has_value());
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_EQ(best->substr(0, 13), "bestmove a8a7");
    EXPECT_TRUE(seen("info depth 5 "));
    EXPECT_FALSE(seen("info depth 6 "));

    engine.send("go infinite");
    EXPECT_TRUE(waitForIteration(7));
    engine.send("stop");
    EXPECT_TRUE(engine.waitForPrefix("bestmove a8a7", SEARCH_TIMEOUT_MS).has_value());
}

// Clock searches end well inside the mover's clock, and the mover's clock
// is the one read: Black to move with four seconds must not take White's
// ten minutes into account.
TEST_F(ProtocolTimeControl, ClockSearchesEndWellWithinTheClock) {
    struct Case {
        const char* position;
        const char* go;
        double clockSeconds;  // the mover's clock
    };
    const Case cases[] = {
        {"position startpos", "go wtime 10000 btime 10000", 10.0},
        {"position startpos", "go wtime 4000 btime 4000 winc 100 binc 100", 4.0},
        {"position startpos moves e2e4", "go wtime 600000 btime 4000", 4.0},
        {"position startpos moves e2e4 e7e5", "go wtime 6000 btime 6000 movestogo 20", 6.0},
        {"position startpos", "go wtime 50 btime 50", 0.05},
    };
    for (const Case& c : cases) {
        engine.send(c.position);
        SteadyClock::time_point start = SteadyClock::now();
        engine.send(c.go);
        ASSERT_TRUE(engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value()) << c.go;
        // Half the clock is far more than the budget allows; the tiny clock
        // gets a fixed allowance for starting the search at all.
        EXPECT_LT(secondsSince(start), std::max(0.5 * c.clockSeconds, 1.0)) << c.go;
    }
}

// "quit" in the middle of a search ends the program with status 0 and no
// "bestmove".
TEST_F(ProtocolTimeControl, QuitDuringASearchExitsWithoutAnswer) {
    engine.send("position startpos");
    engine.send("go infinite");
    ASSERT_TRUE(waitForIteration(2));
    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(SEARCH_TIMEOUT_MS), 0);
    while (engine.readLine(100)) {
    }
    EXPECT_FALSE(seen("bestmove"));
}

}  // namespace
