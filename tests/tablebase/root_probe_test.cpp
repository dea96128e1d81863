// Ranking the root by the tables: which moves are kept, with which values,
// and the score reported, against fathom's verdict on every move.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "core/options.h"
#include "tablebase/root_probe.h"
#include "tablebase/tablebase_probe.h"
#include "tablebase/tablebase_registry.h"
#include "tablebase_test_util.h"

namespace {

class RootProbe : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        ASSERT_TRUE(tb_init(repoTablebaseDir().c_str()));
    }
    void SetUp() override { initTablebases(repoTablebaseDir()); }
    void TearDown() override {
        initTablebases("");
        syzygy50MoveRule = 1;
    }

    struct Ranking {
        int count;
        int32_t score;
        std::vector<TablebaseRootMove> moves;
    };
    static Ranking rank(const Position& pos, bool byDtz) {
        TablebaseRootMove out[MAX_TABLEBASE_ROOT_MOVES];
        Ranking r{};
        r.count = byDtz ? rootProbeDtz(pos, out, &r.score) : rootProbeWdl(pos, out, &r.score);
        for (int i = 0; i < r.count; i++) r.moves.push_back(out[i]);
        EXPECT_TRUE(r.count == 0 || out[r.count].move == 0);
        return r;
    }

    // The legal moves whose resulting position fathom values at `wdl` for
    // the side that moved.
    static std::set<uint32_t> movesReaching(const Position& pos, int wdl) {
        std::set<uint32_t> moves;
        MoveEntry list[MAX_MOVES];
        int n = generateAll(pos, list);
        Position child;
        for (int i = 0; i < n; i++) {
            if (!makeMove(pos, child, list[i].move)) continue;
            child.checkers = computeCheckers(child);
            OracleAnswer a = oracleProbe(child, -1);
            if (a.wdlKnown && -a.wdl == wdl) moves.insert(list[i].move);
        }
        return moves;
    }
    static int legalMoveCount(const Position& pos) {
        MoveEntry list[MAX_MOVES];
        int n = generateAll(pos, list), legal = 0;
        Position child;
        for (int i = 0; i < n; i++) legal += makeMove(pos, child, list[i].move);
        return legal;
    }
    static std::set<uint32_t> moveSet(const Ranking& r) {
        std::set<uint32_t> s;
        for (const TablebaseRootMove& m : r.moves) s.insert(m.move);
        return s;
    }
};

// A won root keeps winning moves only, a mate among them with distance 1;
// fathom agrees that each kept move wins.
TEST_F(RootProbe, WonRootKeepsWinningMovesAndTheMate) {
    Position pos = fromFen("k7/8/1K6/8/8/8/8/2Q5 w - - 0 1");
    Ranking r = rank(pos, true);
    ASSERT_GT(r.count, 1);
    EXPECT_EQ(r.score, 31799);
    std::set<uint32_t> winning = movesReaching(pos, 2);
    for (const TablebaseRootMove& m : r.moves) {
        EXPECT_TRUE(winning.count(m.move)) << m.move;
        EXPECT_GT(m.value, 0);
        EXPECT_EQ(m.spare, 0);
    }
    bool mateKept = false;
    for (const TablebaseRootMove& m : r.moves) mateKept |= m.move == encodeMove(C1, C8) && m.value == 1;
    EXPECT_TRUE(mateKept);
}

// Ninety plies into the fifty-move count, a win whose best distance is 15
// cannot be made in time: only the fastest moves are kept and the score is
// the cursed-win score (200 - 15 - 90) / 2.
TEST_F(RootProbe, WinBeyondTheFiftyMoveLimitKeepsTheFastestMoves) {
    std::mt19937_64 rng(5);
    std::string fen;
    for (int i = 0; i < 100000 && fen.empty(); i++) {
        std::string candidate = randomTablePosition("KRvK", rng);
        Position pos = fromFen(candidate.c_str());
        ProbeResult result;
        if (pos.sideToMove() == WHITE && pos.pieces[WHITE][ROOK] && probeDtz(pos, &result) == 15)
            fen = candidate;
    }
    ASSERT_FALSE(fen.empty());
    // The FEN reader leaves the counter at 0 (it reads four fields).
    Position pos = fromFen(fen.c_str());
    pos.rule50 = 90;
    Ranking r = rank(pos, true);
    ASSERT_GT(r.count, 0) << fen;
    EXPECT_EQ(r.score, (200 - 15 - 90) / 2) << fen;
    for (const TablebaseRootMove& m : r.moves) EXPECT_EQ(m.value, 15) << fen;
    // At the start of the count every winning move within the limit stays.
    Ranking fresh = rank(fromFen(fen.c_str()), true);
    EXPECT_GT(fresh.count, r.count) << fen;
    EXPECT_EQ(fresh.score, 31799);
}

// A drawn root keeps exactly the drawing moves (fathom's list); a lost root
// far from the limit keeps every move, and near it the longest defence only.
TEST_F(RootProbe, DrawnAndLostRoots) {
    Position drawn = fromFen("8/4k3/8/4K3/4P3/8/8/8 w - - 0 1");
    Ranking r = rank(drawn, true);
    EXPECT_EQ(r.score, 0);
    EXPECT_EQ(moveSet(r), movesReaching(drawn, 0));

    Position lost = fromFen("8/8/8/4k3/8/8/8/KQ6 b - - 0 1");
    r = rank(lost, true);
    EXPECT_EQ(r.count, legalMoveCount(lost));
    EXPECT_EQ(r.score, -31799);

    Position late = lost;
    late.rule50 = 80;
    r = rank(late, true);
    ASSERT_GT(r.count, 0);
    EXPECT_LT(r.count, legalMoveCount(late));
    int longest = 0;
    for (const TablebaseRootMove& m : rank(lost, true).moves) longest = std::min(longest, int(m.value));
    for (const TablebaseRootMove& m : r.moves) EXPECT_EQ(m.value, longest);
}

// The WDL ranking keeps the moves of the best value; with "Syzygy 50 Move
// Rule" off a cursed win counts as a win. The made-up KNvK table calls every
// position a cursed win for the knight's side.
TEST_F(RootProbe, WdlRankingAndTheFiftyMoveRuleOption) {
    ScratchFolder dir("rootwdl");
    dir.write("KNvK.rtbw", singleValueTable(WDL_CURSED_WIN, WDL_BLESSED_LOSS));
    initTablebases(dir.path);
    // Moves that put the knight beside the black king lose it: a draw.
    Position pos = fromFen("8/8/8/4k3/8/8/8/KN6 w - - 0 1");
    syzygy50MoveRule = 1;
    Ranking on = rank(pos, false);
    syzygy50MoveRule = 0;
    Ranking off = rank(pos, false);
    ASSERT_GT(on.count, 0);
    EXPECT_EQ(on.score, 2);
    EXPECT_EQ(moveSet(on), moveSet(off));
    for (const TablebaseRootMove& m : on.moves) EXPECT_EQ(m.value, 1);
    for (const TablebaseRootMove& m : off.moves) EXPECT_EQ(m.value, 2);
    EXPECT_EQ(rank(pos, true).count, 0);  // no DTZ file: the caller falls back to WDL

    // Against the real tables the WDL ranking of a won root keeps the winning moves.
    initTablebases(repoTablebaseDir());
    Position won = fromFen("8/8/8/4k3/8/8/8/KQ6 w - - 0 1");
    Ranking wdl = rank(won, false);
    EXPECT_EQ(wdl.score, 31799);
    EXPECT_EQ(moveSet(wdl), movesReaching(won, 2));
}

}  // namespace
