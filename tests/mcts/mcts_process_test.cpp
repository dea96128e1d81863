// The Monte-Carlo search in the real binary: the shape of its output and
// its depth rule, the tree kept for the next move, and a two-thread search
// (also run under ThreadSanitizer) ended by its clock and by "quit".
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "../uci/engine_process.h"

namespace {

constexpr int SEARCH_TIMEOUT_MS = EngineProcess::SEARCH_TIMEOUT_MS;

// A rook ending where White wins the rook at once: few moves, cheap leaf
// searches and a tree that quickly goes deep along the capture.
constexpr const char* ROOK_ENDING = "3r4/5pk1/6p1/8/8/6P1/5PK1/3R4 w - - 0 1";

// A tree search is under way: one of its progress lines.
const std::regex PROGRESS_LINE(
    "info depth ([0-9]+) seldepth [0-9]+ time [1-9][0-9]* score cp -?[0-9]+ "
    "nodes ([0-9]+) nps [0-9]+ pv [a-h1-8qrbn ]+");

class MctsEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.startWithNetwork());
        engine.send("setoption name Use MCTS value true");
    }

    // Sends the lines and returns what the engine prints up to "bestmove".
    std::vector<std::string> search(const std::vector<std::string>& commands) {
        return engine.searchLines(commands);
    }

    EngineProcess engine;
};

// The number after "info nodes" in the lines; -1 when there is none.
long treeNodes(const std::vector<std::string>& lines) {
    for (const std::string& l : lines)
        if (l.rfind("info nodes ", 0) == 0) return std::stol(l.substr(11));
    return -1;
}

// The number of legal moves after `moves` from fen.
long legalMoveCount(const char* fen, const std::vector<std::string>& moves) {
    std::vector<Position> line(moves.size() + 1);
    setFromFen(line[0], fen);
    for (size_t i = 0; i < moves.size(); i++) parseAndMakeMove(line[i], line[i + 1], moves[i].c_str());
    line.back().checkers = computeCheckers(line.back());
    return long(legalMoves(line.back()).size());
}

// "go depth 10" ends at the first progress report that shows depth 10,
// which needs a tree of e^(10 / 2.1276), about 110 nodes. The answer: the
// node count, the result line with the tree's line, "bestmove" and the
// expected reply, both moves legal.
TEST_F(MctsEngine, DepthLimitEndsTheSearchOnceTheTreeIsLargeEnough) {
    std::vector<std::string> lines = search({std::string("position fen ") + ROOK_ENDING, "go depth 10"});
    ASSERT_GE(lines.size(), 4u);
    std::smatch m;
    const std::string& report = lines[lines.size() - 4];
    ASSERT_TRUE(std::regex_match(report, m, PROGRESS_LINE)) << report;
    EXPECT_GE(std::stoi(m[1].str()), 10);
    EXPECT_GE(std::stol(m[2].str()), 110);
    EXPECT_GE(treeNodes(lines), 110);
    const std::string& result = lines[lines.size() - 2];
    EXPECT_TRUE(
        std::regex_match(result, std::regex("info depth 1[0-9] seldepth [0-9]+ time [1-9][0-9]* nodes "
                                            "[0-9]+ nps [0-9]+ score cp -?[0-9]+ tbhits 0 hashfull "
                                            "[0-9]+ pv [a-h1-8qrbn ]+")))
        << result;
    std::string best = lines.back();
    EXPECT_NE(best.find(" ponder "), std::string::npos) << best;
    EXPECT_TRUE(legalBestMove(best, ROOK_ENDING)) << best;
    // The result line's pv starts with the move played.
    EXPECT_EQ(result.substr(result.find(" pv ") + 4, 4), best.substr(9, 4));
}

// After the answer and the reply we expected, the next search starts from
// the subtree below that reply. Stopped at once ("go nodes 1"), it answers
// from that subtree alone, which holds more nodes than the root's children
// that a new tree would start with.
TEST_F(MctsEngine, TheTreeBelowTheExpectedReplyIsKeptForTheNextMove) {
    const std::string setUp = std::string("position fen ") + ROOK_ENDING;
    std::vector<std::string> first = search({setUp, "go movetime 3000"});
    std::istringstream words(first.back());
    std::string word, best, ponder;
    words >> word >> best >> word >> ponder;
    ASSERT_FALSE(ponder.empty()) << first.back();

    std::vector<std::string> kept = search({setUp + " moves " + best + " " + ponder, "go nodes 1"});
    EXPECT_GT(treeNodes(kept), legalMoveCount(ROOK_ENDING, {best, ponder}));
    EXPECT_TRUE(legalBestMove(kept.back(), ROOK_ENDING, {best, ponder})) << kept.back();

    // A position outside the tree starts a new one: the root's children alone.
    std::vector<std::string> fresh = search({setUp + " moves g2h3 g7h6", "go nodes 1"});
    EXPECT_EQ(treeNodes(fresh), legalMoveCount(ROOK_ENDING, {"g2h3", "g7h6"}));
}

// With two threads (the second runs playouts) a timed search answers with a
// legal move, and "quit" during an infinite one ends the program with
// status 0, no "bestmove" and nothing on standard error (where
// ThreadSanitizer would report a race).
TEST(ProtocolMctsThreads, TwoThreadSearchAnswersAndQuitsCleanly) {
    EngineProcess engine;
    ASSERT_TRUE(engine.startWithNetwork());
    engine.send("setoption name Use MCTS value true");
    engine.send("setoption name Threads value 2");
    ASSERT_TRUE(engine.waitForLine("info string Threads now set to 2"));
    engine.send(std::string("position fen ") + ROOK_ENDING);
    engine.send("go movetime 2000");
    std::optional<std::string> best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(best.has_value());
    EXPECT_TRUE(legalBestMove(*best, ROOK_ENDING)) << *best;

    size_t mark = engine.linesRead().size();
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth", SEARCH_TIMEOUT_MS).has_value());
    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(SEARCH_TIMEOUT_MS), 0);
    EXPECT_EQ(engine.errorText(), "");
    const std::vector<std::string>& all = engine.linesRead();
    for (size_t i = mark; i < all.size(); i++) EXPECT_NE(all[i].rfind("bestmove", 0), 0u) << all[i];
}

}  // namespace
