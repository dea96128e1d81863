// The root search and the aspiration loop, driven directly on thread 0: the
// answers for roots without a move, the scores and order the root list gets,
// draws by repetition at the root, multi-PV exclusion, and windows that must
// widen to reach the true score.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "../board/board_test_util.h"
#include "control/think.h"
#include "control/time_budget.h"
#include "core/engine_state.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/root_search.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "search_test_setup.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"
#include "uci/option_table.h"

namespace {

class RootSearch : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        fillRule50Scale();
        buildOptionTable();
        initSearchTestEngine();
    }

    void SetUp() override {
        resetThreadZeroForSearch(1);
        searchStartTime = 0;
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
        quietSearch = true;
    }

    void TearDown() override { drawScoreByColor[WHITE] = drawScoreByColor[BLACK] = 0; }

    static SearchThread& thread() { return *searchThreads[0]; }
    static RootSearchState& state() { return rootSearchState(0); }

    // The thread's root for `game` with the given moves (all legal ones by default).
    static Position& prepare(const Position& game, std::vector<Move> moves) {
        static RootMove list[MAX_ROOT_MOVES + 1];
        size_t n = 0;
        for (; n < moves.size(); n++) list[n] = {moves[n], 0, 0};
        list[n] = {MOVE_NONE, 0, 0};
        return prepareThreadRoot(thread(), game, list);
    }
    static Position& prepare(const Position& game) { return prepare(game, legalMoves(game)); }

    static Move parse(const Position& pos, const char* text) {
        for (Move m : legalMoves(pos))
            if (moveText(m) == text) return m;
        ADD_FAILURE() << text << " is not legal here";
        return MOVE_NONE;
    }
};

// A root without a legal move scores as the think driver hands it over (an
// empty list): mated is -32000, stalemate is the draw value of the side to
// move, here with White having to win.
TEST_F(RootSearch, RootWithoutMovesScoresMateOrTheMoversDraw) {
    struct Case {
        const char* fen;
        Score expected;
    };
    const Case cases[] = {
        {"8/8/8/8/8/3k4/8/3K1q2 w - - 0 1", -MATE_SCORE},  // checkmated
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 2000},          // Black stalemated
        {"8/8/8/8/8/5k2/5q2/7K w - - 0 1", -2000},         // White stalemated
    };
    for (const Case& c : cases) {
        drawScoreByColor[WHITE] = -2000;
        drawScoreByColor[BLACK] = 2000;
        Position game = fromFen(c.fen);
        Position& root = prepare(game, {});
        Move pv[PV_BUFFER_SIZE];
        EXPECT_EQ(rootSearch(root, 4, -SCORE_NONE, SCORE_NONE, pv), c.expected) << c.fen;
        EXPECT_EQ(pv[0], MOVE_NONE) << c.fen;
    }
}

// Every root move gets its score; the best one moves to the front and the
// old first move follows it.
TEST_F(RootSearch, BestMoveGoesFirstWithItsScore) {
    Position game = fromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
    Move mate = parse(game, "a1a8"), kingMove = parse(game, "g1f1"), rookMove = parse(game, "a1a2");
    Position& root = prepare(game, {kingMove, rookMove, mate});
    Move pv[PV_BUFFER_SIZE];
    EXPECT_EQ(rootSearch(root, 4, -SCORE_NONE, SCORE_NONE, pv), MATE_SCORE - 1);
    EXPECT_EQ(pv[0], mate);
    EXPECT_EQ(pv[1], MOVE_NONE);
    EXPECT_EQ(state().moves[0].move, mate);
    EXPECT_EQ(state().moves[0].score, MATE_SCORE - 1);
    EXPECT_EQ(state().moves[1].move, kingMove);
    EXPECT_LT(state().moves[1].score, MATE_BOUND);
    EXPECT_EQ(state().movesCompleted, 3);
}

// A move excluded by an earlier multi-PV line is not searched at all.
TEST_F(RootSearch, ExcludedMovesAreSkipped) {
    Position game = fromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
    Position& root = prepare(game);
    Move mate = parse(game, "a1a8");
    for (RootMove* r = state().moves; r->move; r++) r->excluded = r->move == mate;
    Move pv[PV_BUFFER_SIZE];
    EXPECT_LT(rootSearch(root, 4, -SCORE_NONE, SCORE_NONE, pv), MATE_BOUND);
    EXPECT_NE(pv[0], mate);
    EXPECT_NE(pv[0], MOVE_NONE);
}

// At the root a position must occur twice before for a draw: the knights
// shuffle back to the start once more (the third time) scores the draw
// value, here +2000 for Black; the same move one round earlier (the second
// time) is searched like any other move.
TEST_F(RootSearch, SecondRepetitionIsADrawFirstIsSearched) {
    static Position chain[16];
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8", "g1f3", "g8f6", "f3g1"};
    setFromFen(chain[0], START_FEN);
    for (int i = 0; i < 7; i++) ASSERT_TRUE(parseAndMakeMove(chain[i], chain[i + 1], shuffle[i]));

    for (int plies : {3, 7}) {
        drawScoreByColor[WHITE] = -2000;
        drawScoreByColor[BLACK] = 2000;
        const Position& game = chain[plies];
        Move back = parse(game, "f6g8");
        Position& root = prepare(game, {parse(game, "b8c6"), back});
        Move pv[PV_BUFFER_SIZE];
        rootSearch(root, 4, -SCORE_NONE, SCORE_NONE, pv);
        Score backScore = 0;
        for (RootMove* r = state().moves; r->move; r++)
            if (r->move == back) backScore = r->score;
        if (plies == 7)
            EXPECT_EQ(backScore, 2000);
        else
            EXPECT_LT(std::abs(backScore), 1000);
    }
}

// A window far from the true score must widen until it holds it: from a
// stale score of 0 to a mate, and from a stale +5000 down to an even game.
TEST_F(RootSearch, AspirationWindowsWidenToTheTrueScore) {
    Position game = fromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
    Position& root = prepare(game);
    state().iterationScore[4] = 0;
    state().iterationPv[4][0] = MOVE_NONE;
    thread().iteration = 5;
    searchIteration(root, 5);
    EXPECT_EQ(state().iterationScore[5], MATE_SCORE - 1);
    EXPECT_EQ(moveText(state().iterationPv[5][0]), "a1a8");

    Position start = fromFen(START_FEN);
    Position& startRoot = prepare(start);
    state().iterationScore[4] = 5000;
    failLowSeen = false;
    searchIteration(startRoot, 5);
    EXPECT_LT(std::abs(state().iterationScore[5]), 300);
    EXPECT_NE(state().iterationPv[5][0], MOVE_NONE);
    EXPECT_TRUE(failLowSeen);
    EXPECT_FALSE(failLowPending);
}

// A stop makes the root search return 0 and store nothing for the iteration.
TEST_F(RootSearch, StoppedIterationKeepsThePreviousResult) {
    Position game = fromFen(START_FEN);
    Position& root = prepare(game);
    state().iterationScore[3] = 1234;
    state().iterationPv[3][0] = MOVE_NONE;
    thread().stop.store(true);
    Move pv[PV_BUFFER_SIZE];
    EXPECT_EQ(rootSearch(root, 6, -SCORE_NONE, SCORE_NONE, pv), 0);
    searchIteration(root, 3);
    EXPECT_EQ(state().iterationScore[3], 1234);
    EXPECT_EQ(state().iterationPv[3][0], MOVE_NONE);
}

}  // namespace
