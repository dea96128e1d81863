// The think driver seen from outside: the real binary answering "go" over
// pipes. The shape of the output, mates with their distance (positions
// checked against Stockfish), roots without a move, "stop", "isready" and
// "ponderhit" during a search, "searchmoves", whole games against itself,
// and the benchmark's node count, which changes only when the search does.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "../uci/engine_process.h"
#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/position.h"
#include "core/options.h"
#include "search/draw_detection.h"

namespace {

constexpr int SEARCH_TIMEOUT_MS = EngineProcess::SEARCH_TIMEOUT_MS;

class ProtocolSearch : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine.startWithNetwork()); }

    // Sends the lines and returns everything the engine prints up to and
    // including the "bestmove" line.
    std::vector<std::string> search(const std::vector<std::string>& commands) {
        return engine.searchLines(commands);
    }

    // Whether a line has been read that starts with `prefix`.
    bool seen(const std::string& prefix) {
        for (const std::string& l : engine.linesRead())
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }

    EngineProcess engine;
};

bool startsWith(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0;
}

// The score text ("cp 12", "mate -3") of an "info depth" line with a pv.
std::string scoreOf(const std::string& line) {
    std::smatch m;
    std::regex score(" score ((cp|mate) -?[0-9]+)");
    return std::regex_search(line, m, score) ? m[1].str() : "";
}

// "go depth 1": the iteration line, the line of its only new best move (the
// one capture is tried first and wins the queen), then "info time" and
// "bestmove" with that move; the one-move pv leaves no reply, and the table
// has none after a depth-1 search, so the ponder part is left out.
TEST_F(ProtocolSearch, DepthOneGivesIterationLinePvLineAndBestmove) {
    std::vector<std::string> lines = search({"position fen 4k3/8/8/3q4/4P3/8/8/4K3 w - - 0 1", "go depth 1"});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex("info depth 1 time [1-9][0-9]* nodes [0-9]+ nps [0-9]+")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex("info depth 1 time [1-9][0-9]* nodes [1-9][0-9]* score cp [0-9]+ nps [0-9]+ "
                             "tbhits 0 pv e4d5")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("info time [1-9][0-9]* nodes [1-9][0-9]* nps [0-9]+")))
        << lines[2];
    EXPECT_EQ(lines[3], "bestmove e4d5");
}

struct MateCase {
    const char* name;
    const char* fen;
    int depth;
    const char* score;     // the last score shown
    const char* bestMove;  // the unique best move, or empty when several mate as fast
};

// Mates in one to five, by castling and by under-promotion among them, for
// either side, and being mated. Distances and unique moves from Stockfish.
const MateCase MateCases[] = {
    {"CastlingMateInOne", "8/8/8/7B/2p1p3/2pkp3/8/R3K3 w Q - 0 1", 3, "mate 1", "e1c1"},
    {"KnightPromotionMateInOne", "6bn/5Ppk/6pp/8/8/8/8/K7 w - - 0 1", 12, "mate 1", "f7f8n"},
    {"BlackMatesInTwo", "r5k1/1r6/8/8/8/8/8/6K1 b - - 0 1", 6, "mate 2", ""},
    {"RookMateInThree", "1k6/8/3K4/8/8/8/8/7R w - - 0 1", 20, "mate 3", ""},
    {"QueenMateInFour", "8/2k5/8/3K4/8/8/8/7Q w - - 0 1", 20, "mate 4", "h1b1"},
    {"QueenMateInFive", "8/8/2k5/8/3K4/8/8/7Q w - - 0 1", 20, "mate 5", "h1d5"},
    {"MatedInOne", "8/8/8/8/8/2k5/8/K1q5 w - - 0 1", 4, "mate -1", "a1a2"},
};

class ProtocolSearchMates : public ProtocolSearch, public ::testing::WithParamInterface<MateCase> {};

TEST_P(ProtocolSearchMates, ReportsTheMateDistance) {
    const MateCase& c = GetParam();
    std::vector<std::string> lines =
        search({std::string("position fen ") + c.fen, "go depth " + std::to_string(c.depth)});
    std::string lastScore;
    for (const std::string& l : lines)
        if (startsWith(l, "info depth ") && l.find(" pv ") != std::string::npos) lastScore = scoreOf(l);
    EXPECT_EQ(lastScore, c.score);
    if (c.bestMove[0]) {
        EXPECT_TRUE(startsWith(lines.back(), std::string("bestmove ") + c.bestMove)) << lines.back();
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, ProtocolSearchMates, ::testing::ValuesIn(MateCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Checkmated and stalemated roots have nothing to search: the iterations
// print no pv and the answer is the null move, under a clock as well.
TEST_F(ProtocolSearch, RootWithoutMovesAnswersNullMove) {
    for (const char* fen : {"8/8/8/8/8/3k4/8/3K1q2 w - - 0 1", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"}) {
        for (const char* go : {"go depth 4", "go wtime 1000 btime 1000"}) {
            std::vector<std::string> lines = search({std::string("position fen ") + fen, go});
            for (const std::string& l : lines)
                EXPECT_EQ(l.find(" pv "), std::string::npos) << fen << ": " << l;
            EXPECT_EQ(lines.back(), "bestmove 0000") << fen << " " << go;
        }
    }
}

// "go infinite" answers only after "stop"; "isready" is answered in the
// middle of the search, and a second "go" meanwhile is ignored.
TEST_F(ProtocolSearch, InfiniteSearchAnswersIsreadyAndStopsOnStop) {
    engine.send("position startpos moves e2e4");
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth 3", SEARCH_TIMEOUT_MS).has_value());
    engine.send("isready");
    engine.send("go depth 1");
    ASSERT_TRUE(engine.waitForLine("readyok", SEARCH_TIMEOUT_MS));
    EXPECT_FALSE(seen("bestmove"));
    engine.send("stop");
    std::optional<std::string> best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(best.has_value());
    EXPECT_TRUE(legalBestMove(*best, START_FEN, {"e2e4"})) << *best;
    // Exactly one answer: the "go" sent during the search left no trace.
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok"));
    EXPECT_EQ(std::count_if(engine.linesRead().begin(), engine.linesRead().end(),
                            [](const std::string& l) { return startsWith(l, "bestmove"); }),
              1);
}

// A "setoption" that would replace what the search threads read (here the
// network and the table contents), and "perft", are held back until the
// search has ended, then carried out before anything that came after them.
TEST_F(ProtocolSearch, OptionsThatReplaceSearchDataWaitForTheSearchToEnd) {
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth 3", SEARCH_TIMEOUT_MS).has_value());
    engine.send("setoption name weightsfile value /nonexistent/sable.nnue");
    engine.send("setoption name Clear Hash");
    engine.send("perft 2");
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok", SEARCH_TIMEOUT_MS));
    EXPECT_TRUE(seen("info string weightsfile deferred until the search ends"));
    EXPECT_TRUE(seen("info string Clear Hash deferred until the search ends"));
    EXPECT_TRUE(seen("info string perft deferred until the search ends"));
    EXPECT_FALSE(seen("info string Clearing Hash"));
    EXPECT_FALSE(seen("400, MNPS="));
    EXPECT_EQ(engine.errorText().find("not found"), std::string::npos);

    engine.send("stop");
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok", SEARCH_TIMEOUT_MS));
    const std::vector<std::string>& lines = engine.linesRead();
    auto best = std::find_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return startsWith(l, "bestmove"); });
    auto cleared = std::find(lines.begin(), lines.end(), "info string Clearing Hash");
    auto counted = std::find_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return startsWith(l, "400, MNPS="); });
    ASSERT_NE(best, lines.end());
    ASSERT_NE(cleared, lines.end());
    ASSERT_NE(counted, lines.end());
    EXPECT_LT(best, cleared);
    EXPECT_LT(cleared, counted);
    EXPECT_NE(engine.errorText().find("\"/nonexistent/sable.nnue\" not found"), std::string::npos);
}

// A pondering search that reaches its depth still waits for "ponderhit".
TEST_F(ProtocolSearch, PonderingWaitsForPonderhit) {
    engine.send("position startpos");
    engine.send("go ponder depth 2");
    ASSERT_TRUE(engine.waitForPrefix("info depth 2 time", SEARCH_TIMEOUT_MS).has_value());
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok", SEARCH_TIMEOUT_MS));
    EXPECT_FALSE(seen("bestmove"));
    engine.send("ponderhit");
    EXPECT_TRUE(engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value());
}

// "searchmoves" limits the root to the listed moves; a list without a legal
// move leaves nothing to play.
TEST_F(ProtocolSearch, SearchmovesLimitsTheRoot) {
    std::vector<std::string> lines = search({"position startpos", "go depth 4 searchmoves a2a3 h2h3"});
    for (const std::string& l : lines) {
        if (l.find(" pv ") == std::string::npos) continue;
        EXPECT_TRUE(l.find(" pv a2a3") != std::string::npos || l.find(" pv h2h3") != std::string::npos) << l;
    }
    EXPECT_TRUE(lines.back() == "bestmove a2a3" || startsWith(lines.back(), "bestmove a2a3 ") ||
                startsWith(lines.back(), "bestmove h2h3"))
        << lines.back();
    EXPECT_EQ(search({"go depth 2 searchmoves e2e5"}).back(), "bestmove 0000");
}

// How a game between two copies of the engine ended.
enum class GameEnd { Mate, Stalemate, Draw, Cap };

// Plays the engine against itself from `fen` with "go <goText>", checking
// that every answer is legal, until mate, stalemate, a draw by repetition,
// the fifty-move rule or bare kings, or `maxPlies`.
GameEnd playGame(EngineProcess& engine, const std::string& fen, const std::string& goText, int maxPlies) {
    static Position game[512];
    setFromFen(game[0], fen.c_str());
    game[0].checkers = computeCheckers(game[0]);
    std::string moves;
    for (int ply = 0; ply < maxPlies; ply++) {
        const Position& pos = game[ply];
        bool hasMove = hasLegalMove(pos);
        if (!hasMove) return pos.checkers ? GameEnd::Mate : GameEnd::Stalemate;
        if (ply > 0 && (fiftyMoveDraw(pos) || repeatsEarlierPosition(pos, 2) || popcount(pos.occupied) == 2))
            return GameEnd::Draw;
        engine.send("position fen " + fen + (moves.empty() ? "" : " moves" + moves));
        engine.send("go " + goText);
        std::optional<std::string> line = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
        if (!line) {
            ADD_FAILURE() << "no answer after" << moves;
            return GameEnd::Cap;
        }
        std::istringstream words(*line);
        std::string word, move;
        words >> word >> move;
        if (!parseAndMakeMove(pos, game[ply + 1], move.c_str())) {
            ADD_FAILURE() << "illegal " << move << " after" << moves;
            return GameEnd::Cap;
        }
        moves += " " + move;
    }
    return GameEnd::Cap;
}

// Whole games, standard and Chess960, at a small fixed node count: every
// answer is a legal move, castling is written the way the variant wants,
// and the engine keeps answering until the game is over (400 plies leave
// room for the fifty-move rule to end any game that goes nowhere).
TEST_F(ProtocolSearch, SelfPlayGamesStayLegal) {
    initBoardTables();
    chess960 = 0;
    EXPECT_NE(playGame(engine, START_FEN, "nodes 3000", 400), GameEnd::Cap);

    engine.send("setoption name UCI_Chess960 value true");
    chess960 = 1;
    EXPECT_NE(playGame(engine, "bqnrkrnb/pppppppp/8/8/8/8/PPPPPPPP/BQNRKRNB w KQkq - 0 1", "nodes 3000", 400),
              GameEnd::Cap);
    chess960 = 0;
    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(SEARCH_TIMEOUT_MS), 0);
}

// The benchmark's total node count is the search's fingerprint: a change to
// the search that was not meant to change its behaviour shows as a changed
// count. The count is also recorded in the README. Update both when a
// change is meant to alter the search.
constexpr uint64_t BENCH_SIGNATURE = 158023;

TEST(ProtocolBench, NodeCountIsTheRecordedSignature) {
    EngineProcess engine;
    ASSERT_TRUE(engine.start({"bench", "1", "6"}));
    ASSERT_EQ(engine.waitForExit(SEARCH_TIMEOUT_MS), 0);
    std::regex depthLine(" ?([0-9]+) \\.{50} +([0-9]+) nds +[0-9.]+ sec( +[0-9.]+ bf)?");
    uint64_t total = 0;
    std::vector<int> depths;
    while (std::optional<std::string> l = engine.readLine(200)) {
        std::smatch m;
        if (!std::regex_match(*l, m, depthLine)) continue;
        depths.push_back(std::stoi(m[1]));
        total += std::stoull(m[2]);
        EXPECT_EQ(m[3].matched, depths.size() > 1) << *l;  // the first depth has no "bf" column
    }
    EXPECT_EQ(depths, (std::vector<int>{5, 6}));
    EXPECT_EQ(total, BENCH_SIGNATURE);
}

}  // namespace
