// The node searches and the quiescence search, driven directly: mates found
// with the right distance (positions and their unique mating moves checked
// against Stockfish), draws by stalemate, material, repetition and the
// fifty-move rule, the quiescence search's stand-pat and capture rules, and
// the determinism of the whole search.
#include <gtest/gtest.h>

#include "../board/board_test_util.h"
#include "control/think.h"
#include "control/time_budget.h"
#include "core/engine_state.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/evaluate.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/history.h"
#include "search/node_search.h"
#include "search/qsearch.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "search_test_setup.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"

namespace {

constexpr Score INFINITE_SCORE = SCORE_NONE;

class NodeSearch : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        fillRule50Scale();
        initSearchTestEngine();
    }

    void SetUp() override {
        resetThreadZeroForSearch(0);
        // No clock: the periodic check must never stop these searches.
        hardLimit = extendLimit = NO_TIME_LIMIT;
        timeUp = false;
        quietSearch = true;
    }

    void TearDown() override {
        resetSearchState();
        quietSearch = false;
    }

    static SearchThread& thread() { return *searchThreads[0]; }

    // The position as a search root: in the thread's first ply record, with
    // the fields the root search would give it.
    static Position& root(const char* fen, int rule50 = 0) {
        Position& pos = thread().plyStack[0];
        setFromFen(pos, fen);
        pos.rule50 = uint16_t(rule50);
        pos.staticEval = SCORE_NONE;
        pos.statScore = 0;
        return pos;
    }

    // Iterative deepening over searchPV at ply 0 up to `iterations` plies
    // (a shallow iteration may see a longer mate than the shortest one).
    // Returns the last score; pv holds its line.
    static Score deepen(Position& pos, int iterations, Move* pv) {
        Score score = 0;
        for (int i = 1; i <= iterations; i++) {
            thread().iteration = i;
            score = searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 2 * i, 0, pv);
        }
        return score;
    }

    static Score staticValue(Position& pos) {
        uint8_t lazy = 0;
        return scaleByRule50(evaluate(pos, -35000, 35000, &lazy), pos.rule50);
    }
};

struct MateCase {
    const char* name;
    const char* fen;
    int movesToMate;       // negative: the side to move is mated in that many moves
    const char* bestMove;  // the unique first move, or nullptr when several mate
    int iterations;
};

// Mates in one to three (by a plain move, castling and a knight promotion),
// and being mated. A knight promotion is only searched from depth 20, so that
// mate needs ten iterations; the pruning of quiet moves near the leaves makes
// the quiet rook mate take many more than its five plies.
const MateCase MateCases[] = {
    {"BackRankMateInOne", "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 1, "a1a8", 4},
    {"CastlingMateInOne", "8/8/8/7N/8/2N2k1P/7P/2B1K2R w K - 0 1", 1, "e1g1", 4},
    {"KnightPromotionMateInOne", "6nb/5Ppk/6pp/8/8/8/8/K7 w - - 0 1", 1, "f7f8n", 12},
    {"SacrificeMateInTwo", "r1b2k1r/ppppq3/5N1p/4P2Q/4PP2/1B6/PP5P/n2K2R1 w - - 1 1", 2, "h5h6", 10},
    // Both f5g6 and f5f6 mate in three; which comes first depends on the
    // evaluation, so only the score and the mating line are checked.
    {"RookMateInThree", "6k1/8/8/5K2/8/8/8/1R6 w - - 0 1", 3, nullptr, 22},
    {"MatedInOne", "7k/8/6K1/8/8/8/1R6/8 b - - 0 1", -1, "h8g8", 4},
    {"MatedInTwo", "6k1/8/6K1/8/8/8/1R6/8 b - - 0 1", -2, nullptr, 14},
};

class NodeSearchMates : public NodeSearch, public ::testing::WithParamInterface<MateCase> {};

TEST_P(NodeSearchMates, FindsTheMateWithItsDistance) {
    const MateCase& c = GetParam();
    Position& pos = root(c.fen);
    Move pv[PV_BUFFER_SIZE];
    Score score = deepen(pos, c.iterations, pv);
    int plies = c.movesToMate > 0 ? 2 * c.movesToMate - 1 : -2 * c.movesToMate;
    Score expected = c.movesToMate > 0 ? MATE_SCORE - plies : plies - MATE_SCORE;
    EXPECT_EQ(score, expected);
    if (c.bestMove) {
        EXPECT_EQ(moveText(pv[0]), c.bestMove);
    }
    // The principal variation plays out legally to the mate.
    int length = 0;
    while (length < MAX_PV_MOVES && pv[length]) length++;
    EXPECT_EQ(length, plies);
    Position line[PV_BUFFER_SIZE];
    line[0] = pos;
    for (int i = 0; i < length; i++) {
        ASSERT_TRUE(isPseudoLegal(line[i], pv[i])) << "move " << i;
        ASSERT_TRUE(makeMove(line[i], line[i + 1], pv[i])) << "move " << i;
        line[i + 1].checkers = computeCheckers(line[i + 1]);
    }
    EXPECT_NE(line[length].checkers, 0u);
    EXPECT_FALSE(hasLegalMove(line[length]));
}

INSTANTIATE_TEST_SUITE_P(Positions, NodeSearchMates, ::testing::ValuesIn(MateCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The knight promotion is left out of shallow searches: at depth 18 the
// position is no mate yet.
TEST_F(NodeSearch, UnderPromotionsWaitForDepthTwenty) {
    Position& pos = root("6nb/5Ppk/6pp/8/8/8/8/K7 w - - 0 1");
    Move pv[PV_BUFFER_SIZE];
    thread().iteration = 9;
    Score score = searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 18, 0, pv);
    EXPECT_LT(score, MATE_BOUND);
    EXPECT_NE(moveText(pv[0]), "f7f8n");
}

// A mated node at ply p scores p - 32000 and is stored as a final entry
// relative to the node, so that it reads back right at any other ply.
TEST_F(NodeSearch, CheckmateIsFinalAndStoredRelativeToTheNode) {
    Position& pos = root("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");
    Move pv[PV_BUFFER_SIZE];
    thread().iteration = 3;
    EXPECT_EQ(searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 6, 4, pv), 4 - MATE_SCORE);
    TTEntry entry{};
    ASSERT_TRUE(transpositionTable.probe(pos.key, entry));
    EXPECT_EQ(entry.bound, BOUND_FINAL);
    EXPECT_EQ(entry.score, -MATE_SCORE);
    EXPECT_EQ(searchNonPV(pos, 0, 20, 2, pv, MOVE_NONE, false, false, 0), 2 - MATE_SCORE);
}

struct DrawCase {
    const char* name;
    const char* fen;
};

// Stalemate and bare material are worth the draw score of the side to move
// (set unequal here, as "Armageddon" does, so that the colour shows).
const DrawCase DrawCases[] = {
    {"StalematedBlack", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"},
    {"StalematedWhite", "8/8/8/8/8/6k1/5q2/7K w - - 0 1"},
    {"KingAndBishopAgainstKing", "8/8/4k3/8/8/2B5/8/4K3 w - - 0 1"},
};

class NodeSearchDraws : public NodeSearch, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(NodeSearchDraws, ScoreTheDrawValueOfTheSideToMove) {
    drawScoreByColor[WHITE] = -2000;
    drawScoreByColor[BLACK] = 2000;
    Position& pos = root(GetParam().fen);
    Move pv[PV_BUFFER_SIZE];
    thread().iteration = 2;
    EXPECT_EQ(searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 4, 0, pv), drawScoreByColor[pos.sideToMove()]);
    EXPECT_EQ(searchNonPV(pos, 1, 4, 1, pv, MOVE_NONE, false, false, 0), drawScoreByColor[pos.sideToMove()]);
}

INSTANTIATE_TEST_SUITE_P(Positions, NodeSearchDraws, ::testing::ValuesIn(DrawCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Bare material is a draw before any move is made.
TEST_F(NodeSearch, InsufficientMaterialSearchesNothing) {
    Position& pos = root("8/8/4k3/8/8/2B5/8/4K3 w - - 0 1");
    Move pv[PV_BUFFER_SIZE];
    searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 10, 0, pv);
    EXPECT_EQ(thread().nodes.load(), 0u);
}

// A game that shuffles knights: White (a queen and a knight up) plays Nc3,
// Black Nf6, White Nb1, and so on. Black to move can repeat the position of
// four plies earlier with Ng8, its only way to save the game.
class Repetition : public NodeSearch {
  protected:
    static constexpr const char* SHUFFLE[4] = {"b1c3", "g8f6", "c3b1", "f6g8"};

    // Plays `plies` shuffle moves from the start in a game chain of its own
    // (not the plyStack the search uses) and returns the last position.
    Position& playShuffle(int plies) {
        setFromFen(game[0], "6nk/8/8/8/8/8/8/1N1Q2K1 w - - 0 1");
        game[0].staticEval = SCORE_NONE;
        for (int i = 0; i < plies; i++) {
            EXPECT_TRUE(parseAndMakeMove(game[i], game[i + 1], SHUFFLE[i % 4]));
            game[i + 1].checkers = computeCheckers(game[i + 1]);
            game[i + 1].staticEval = SCORE_NONE;
        }
        return game[plies];
    }

    Score searchAt(Position& pos, int ply) {
        transpositionTable.clear();
        Move pv[PV_BUFFER_SIZE];
        thread().iteration = 1;
        return searchPV(pos, -INFINITE_SCORE, INFINITE_SCORE, 2, ply, pv);
    }

    Position game[16];
};

// Deeper than ply 2 one repetition is a draw; at plies 0..2 it takes two.
TEST_F(Repetition, OneRepetitionDrawsOnlyAwayFromTheRoot) {
    Position& pos = playShuffle(3);
    EXPECT_EQ(searchAt(pos, 3), 0);
    EXPECT_LT(searchAt(pos, 1), -500);
}

TEST_F(Repetition, TwoRepetitionsDrawAtTheRoot) {
    Position& pos = playShuffle(7);
    EXPECT_EQ(searchAt(pos, 1), 0);
}

// With 99 plies behind it, every move of a won position that is not a mate
// draws by the fifty-move rule; a mate on the hundredth ply still counts.
TEST_F(NodeSearch, FiftyMoveRuleDrawsUnlessTheLastMoveMates) {
    Move pv[PV_BUFFER_SIZE];
    thread().iteration = 2;
    Position& winning = root("8/8/8/4k3/8/8/8/R3K3 w - - 0 1", 99);
    EXPECT_EQ(searchPV(winning, -INFINITE_SCORE, INFINITE_SCORE, 4, 0, pv), 0);
    transpositionTable.clear();
    Position& fresh = root("8/8/8/4k3/8/8/8/R3K3 w - - 0 1", 0);
    EXPECT_GT(searchPV(fresh, -INFINITE_SCORE, INFINITE_SCORE, 4, 0, pv), 500);
    transpositionTable.clear();
    Position& mating = root("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 99);
    EXPECT_EQ(searchPV(mating, -INFINITE_SCORE, INFINITE_SCORE, 4, 0, pv), MATE_SCORE - 1);
    EXPECT_EQ(moveText(pv[0]), "a1a8");
}

// Quiescence search: with nothing to take and no check to give it stands pat
// on the static value; a capture that loses is not taken; a free queen is.
TEST_F(NodeSearch, QuiescenceStandsPatOrTakesWhatIsFree) {
    Move pv[PV_BUFFER_SIZE];
    Position& quiet = root("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
    EXPECT_EQ(qsearch(quiet, -INFINITE_SCORE, INFINITE_SCORE, 0, 0, pv), staticValue(quiet));
    EXPECT_EQ(pv[0], MOVE_NONE);

    Position& defended = root("7k/8/8/2p5/3p4/8/8/3RK3 w - - 0 1");
    EXPECT_EQ(qsearch(defended, -INFINITE_SCORE, INFINITE_SCORE, 0, 0, pv), staticValue(defended));
    EXPECT_EQ(pv[0], MOVE_NONE);

    Position& hanging = root("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
    Score stand = staticValue(hanging);
    EXPECT_GT(qsearch(hanging, -INFINITE_SCORE, INFINITE_SCORE, 0, 0, pv), stand + 500);
    EXPECT_EQ(moveText(pv[0]), "d1d5");
}

// A stand-pat value more than 1660 below alpha gives up at once with alpha,
// even where a capture would have gained a lot (but not enough).
TEST_F(NodeSearch, QuiescenceGivesUpFarBelowAlpha) {
    Move pv[PV_BUFFER_SIZE];
    Position& hanging = root("4k3/8/8/3q4/8/8/8/3RK3 w - - 0 1");
    Score alpha = staticValue(hanging) + 1700;
    EXPECT_EQ(qsearch(hanging, alpha, alpha + 1, 0, 0, pv), alpha);
    EXPECT_EQ(thread().nodes.load(), 0u);
}

// A knight check that forks king and queen is a quiet move: the first
// quiescence ply tries it, deeper plies only capture.
TEST_F(NodeSearch, QuiescenceTriesQuietChecksOnlyAtItsFirstPly) {
    Move pv[PV_BUFFER_SIZE];
    Position& fork = root("4k3/8/8/1N6/2q5/8/8/4K3 w - - 0 1");
    Score stand = staticValue(fork);
    EXPECT_GT(qsearch(fork, -INFINITE_SCORE, INFINITE_SCORE, 0, 0, pv), stand + 500);
    EXPECT_EQ(moveText(pv[0]), "b5d6");
    transpositionTable.clear();
    EXPECT_EQ(qsearch(fork, -INFINITE_SCORE, INFINITE_SCORE, -2, 0, pv), stand);
}

// In check without an evasion the quiescence search sees the mate at any depth.
TEST_F(NodeSearch, QuiescenceSeesMate) {
    Move pv[PV_BUFFER_SIZE];
    Position& mated = root("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1");
    EXPECT_EQ(qsearch(mated, -INFINITE_SCORE, INFINITE_SCORE, -6, 5, pv), 5 - MATE_SCORE);
}

// The same search from the same state visits exactly the same nodes.
TEST_F(NodeSearch, IsDeterministic) {
    const char* fen = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4";
    uint64_t counts[2];
    Score scores[2];
    for (int run = 0; run < 2; run++) {
        SetUp();
        Position& pos = root(fen);
        Move pv[PV_BUFFER_SIZE];
        scores[run] = deepen(pos, 6, pv);
        counts[run] = thread().nodes.load();
    }
    EXPECT_GT(counts[0], 1000u);
    EXPECT_EQ(counts[0], counts[1]);
    EXPECT_EQ(scores[0], scores[1]);
}

}  // namespace
