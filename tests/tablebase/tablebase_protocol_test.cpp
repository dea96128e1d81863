// The tablebases seen through the real binary: "go" on covered positions
// plays only moves that keep the result and reports tablebase hits, the
// search probes below an uncovered root on several threads, and "SyzygyPath"
// sent during a search takes effect after it.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "../uci/engine_process.h"
#include "board/make_move.h"
#include "tablebase_test_util.h"

namespace {

constexpr int SEARCH_TIMEOUT_MS = EngineProcess::SEARCH_TIMEOUT_MS;

class TablebaseProtocol : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        ASSERT_TRUE(tb_init(repoTablebaseDir().c_str()));
    }
    void SetUp() override { ASSERT_TRUE(engine.startWithNetwork()); }

    void useRepositoryTables() {
        engine.send("setoption name SyzygyPath value " + repoTablebaseDir());
        ASSERT_TRUE(engine.waitForLine("info string Found 3 WDL and 3 DTZ tablebase files (up to 3-man)."));
    }

    // The lines after `commands` up to and including "bestmove".
    std::vector<std::string> search(const std::vector<std::string>& commands) {
        return engine.searchLines(commands);
    }

    // The "tbhits" count of the last line that reports one (-1 when none does).
    static long lastTablebaseHits(const std::vector<std::string>& lines) {
        static const std::regex hits(" tbhits ([0-9]+) ");
        long count = -1;
        std::smatch m;
        for (const std::string& l : lines)
            if (std::regex_search(l, m, hits)) count = std::stol(m[1]);
        return count;
    }

    EngineProcess engine;
};

// The move played keeps the root's value (fathom's verdict on the position
// after it), and the hits show that the tables answered.
TEST_F(TablebaseProtocol, GoPlaysOnlyMovesThatKeepTheResult) {
    useRepositoryTables();
    struct Case {
        const char* fen;
        int wdl;  // the root's value for the side to move
    };
    const Case cases[] = {
        {"8/8/8/4k3/8/8/8/KQ6 w - - 0 1", 2},
        {"4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", 2},
        {"8/4k3/8/4K3/4P3/8/8/8 w - - 0 1", 0},
        {"8/8/8/8/8/3k4/7R/K7 b - - 0 1", -2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = search({std::string("position fen ") + c.fen, "go depth 6"});
        std::string move = lines.back().substr(9, lines.back().find(' ', 9) - 9);
        Position root = fromFen(c.fen), after;
        ASSERT_TRUE(parseAndMakeMove(root, after, move.c_str())) << c.fen << " " << move;
        after.checkers = computeCheckers(after);
        OracleAnswer verdict = oracleProbe(after, -1);
        ASSERT_TRUE(verdict.wdlKnown) << c.fen;
        EXPECT_EQ(-verdict.wdl, c.wdl) << c.fen << " " << move;
        EXPECT_GT(lastTablebaseHits(lines), 0) << c.fen;
    }
    // Without "Use Syzygy" nothing is probed.
    engine.send("setoption name Use Syzygy value false");
    std::vector<std::string> lines = search({"position fen 8/8/8/4k3/8/8/8/KQ6 w - - 0 1", "go depth 6"});
    EXPECT_EQ(lastTablebaseHits(lines), 0);
}

// A root the tables do not cover (KQvKR) whose rook hangs: the searching
// threads probe the three-piece positions below it, all at once.
TEST_F(TablebaseProtocol, ThreadsProbeBelowAnUncoveredRoot) {
    engine.send("setoption name Threads value 2");
    useRepositoryTables();
    std::vector<std::string> lines = search({"position fen 8/1r6/8/3k4/8/8/8/KQ6 w - - 0 1", "go depth 10"});
    EXPECT_EQ(lines.back().substr(0, 13), "bestmove b1b7");
    EXPECT_GT(lastTablebaseHits(lines), 0);
}

// A new path during a search is registered once the search has ended; until
// then the search keeps the tables it started with.
TEST_F(TablebaseProtocol, SyzygyPathDuringASearchTakesEffectAfterIt) {
    engine.send("position fen 8/8/8/4k3/8/8/8/KQ6 w - - 0 1");
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth 2", SEARCH_TIMEOUT_MS).has_value());
    engine.send("setoption name SyzygyPath value " + repoTablebaseDir());
    ASSERT_TRUE(engine.waitForLine("info string SyzygyPath deferred until the search ends"));
    std::vector<std::string> lines = search({"stop"});
    for (const std::string& l : lines) EXPECT_EQ(l.find("Found"), std::string::npos) << l;
    ASSERT_TRUE(engine.waitForLine("info string Found 3 WDL and 3 DTZ tablebase files (up to 3-man)."));
    lines = search({"go depth 4"});
    EXPECT_GT(lastTablebaseHits(lines), 0);
}

}  // namespace
