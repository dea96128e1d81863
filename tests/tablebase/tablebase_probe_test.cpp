// Our prober against fathom, an independent one: WDL and DTZ on random legal
// positions of every table (both colour orientations, both sides to move,
// en-passant rights), on positions picked for their traps, and the search
// score form of the WDL value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "core/options.h"
#include "tablebase/tablebase_probe.h"
#include "tablebase/tablebase_registry.h"
#include "tablebase_test_util.h"

namespace {

// Probes every position with both probers; counts agreements, and fails with
// the FEN on the first disagreement of each kind.
struct Comparison {
    int wdlAgreed = 0, dtzAgreed = 0, bothFailed = 0;

    void check(const std::string& fen) {
        Position pos = fromFen(fen.c_str());
        OracleAnswer oracle = oracleProbe(pos, fenEpSquare(fen));
        ProbeResult wdlResult, dtzResult;
        int wdl = probeWdl(pos, &wdlResult);
        int dtz = probeDtz(pos, &dtzResult);
        if (!oracle.wdlKnown) {
            bothFailed += wdlResult == PROBE_FAILED;
            return;
        }
        ASSERT_NE(wdlResult, PROBE_FAILED) << fen;
        ASSERT_EQ(wdl, oracle.wdl) << fen;
        wdlAgreed++;
        if (!oracle.dtzKnown) return;
        ASSERT_NE(dtzResult, PROBE_FAILED) << fen;
        ASSERT_EQ(dtz, oracle.dtz) << fen;
        dtzAgreed++;
    }
};

// Random positions per table (both orientations and sides to move among
// them). SABLE_TB_SAMPLES raises it for a long offline run.
int samplesPerTable() {
    const char* text = std::getenv("SABLE_TB_SAMPLES");
    return text ? std::atoi(text) : 120;
}

class TablebaseProbe : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initBoardTables(); }
    void TearDown() override {
        initTablebases("");
        syzygy50MoveRule = 1;
    }

    // Points both probers at `dir`; false when it holds no tables.
    static bool useTables(const std::string& dir) {
        if (tableNamesIn(dir).empty()) return false;
        initTablebases(dir);
        // fathom complains when set up again with the tables it has.
        static std::string fathomDir;
        if (fathomDir != dir && !tb_init(dir.c_str())) return false;
        fathomDir = dir;
        return true;
    }

    static void compareRandomPositions(const std::string& dir, Comparison& c) {
        std::mt19937_64 rng(20261211);
        for (const std::string& name : tableNamesIn(dir))
            for (int i = 0; i < samplesPerTable(); i++) {
                c.check(randomTablePosition(name, rng));
                if (::testing::Test::HasFatalFailure()) return;
            }
    }
};

TEST_F(TablebaseProbe, RepositoryTablesAgreeWithFathom) {
    ASSERT_TRUE(useTables(repoTablebaseDir()));
    Comparison c;
    compareRandomPositions(repoTablebaseDir(), c);
    EXPECT_GT(c.dtzAgreed, samplesPerTable() / 2);
}

TEST_F(TablebaseProbe, EveryTableOfTheSharedSetAgreesWithFathom) {
    if (!useTables(sharedTablebaseDir())) GTEST_SKIP() << "no tables in " << sharedTablebaseDir();
    Comparison c;
    compareRandomPositions(sharedTablebaseDir(), c);
    std::printf("agreed with fathom: %d WDL, %d DTZ (%d refused by both)\n", c.wdlAgreed, c.dtzAgreed,
                c.bothFailed);
    EXPECT_GT(c.dtzAgreed, c.wdlAgreed / 2);
}

// Positions whose value hangs on a capture, an en-passant right, the stored
// side of a distance table, the colour orientation, a symmetric table or a
// value map (from the method note's table of fathom answers).
TEST_F(TablebaseProbe, TrapPositionsAgreeWithFathom) {
    if (!useTables(sharedTablebaseDir())) GTEST_SKIP() << "no tables in " << sharedTablebaseDir();
    const char* const fens[] = {
        "8/8/8/4k3/8/8/8/KQ6 b - - 0 1",       // stored side is the other one
        "8/8/8/8/8/8/1Q6/K1k5 b - - 0 1",      // the queen can be taken? no: protected
        "8/8/8/4k3/8/8/8/KBN5 w - - 0 1",      // one-ply search in a table stored for Black
        "8/8/8/3kr3/8/8/8/KQ6 b - - 0 1",      // value map, other side stored
        "8/8/8/8/8/8/8/KQ5k b - - 0 1",        // in check
        "8/8/8/2p5/8/8/5P2/K6k b - - 0 1",     // symmetric table, Black to move
        "kq6/8/8/8/4K3/8/8/8 w - - 0 1",       // colours exchanged
        "8/8/8/4p3/4k3/8/4K3/8 w - - 0 1",     // pawn table, colours exchanged
        "8/8/8/8/4Q3/8/3p4/2k4K w - - 0 1",    // promotion race
        "8/8/8/3pP3/8/8/8/K6k w - d6 0 1",     // en passant wins
        "8/2K5/8/8/6Pp/8/7k/8 b - g3 0 1",     // en passant wins for Black
        "8/8/5K2/7R/4Pp2/8/8/4k3 b - e3 0 1",  // en passant saves the draw
        "8/8/5K2/7R/4Pp2/8/8/4k3 b - - 0 1",   // the same without the right
        "8/5k2/8/5r2/6Pp/8/8/7K b - g3 0 1",   // five pieces, en passant
        "1K1k4/1P6/8/8/8/8/r7/2R5 w - - 0 1",  // Lucena
        "4k3/1R6/r7/4PK2/8/8/8/8 b - - 0 1",   // Philidor
        "4k3/p7/8/8/8/8/P7/1K5R b - - 0 1",    // pawns on both sides
        "krr5/8/8/8/8/7R/8/4K3 b - - 0 1",     // five pieces, colours exchanged
        "8/8/8/8/2k1p3/8/1R6/3K3r w - - 0 1",  // side in check to move
        "8/8/8/2k4r/8/8/8/KRB5 w - - 0 1",     // losses stored in plies
    };
    Comparison c;
    for (const char* fen : fens) {
        c.check(fen);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(c.dtzAgreed, int(std::size(fens)));
}

// What fathom reports specially or refuses: a mated side to move has lost
// (-2 and DTZ -1), a stalemate is a draw, castling rights are outside the
// tables, bare kings are a draw without any table, and a missing promotion
// table leaves the WDL value (read straight from the table) but fails the
// distance, which must try the promotion.
TEST_F(TablebaseProbe, MatesStalematesAndWhatTheTablesCannotAnswer) {
    if (!useTables(sharedTablebaseDir())) GTEST_SKIP() << "no tables in " << sharedTablebaseDir();
    struct Case {
        const char* fen;
        bool wdlKnown;
        int wdl;
        bool dtzKnown;
        int dtz;
    };
    const Case cases[] = {
        {"8/K7/8/r7/8/1q6/k7/2R5 w - - 0 1", true, -2, true, -1},
        {"R7/8/3K4/8/8/1R6/8/k7 b - - 0 1", true, -2, true, -1},
        {"k7/8/1Q6/8/8/8/8/7K b - - 0 1", true, 0, true, 0},
        {"4k3/8/8/8/8/8/8/R3K3 w Q - 0 1", false, 0, false, 0},
        {"8/8/3k4/8/8/8/8/4K3 w - - 0 1", true, 0, true, 0},
        {"8/1P2k3/8/8/8/8/p7/2K4R w - - 0 1", true, 2, false, 0},
    };
    for (const Case& c : cases) {
        Position pos = fromFen(c.fen);
        ProbeResult wdlResult, dtzResult;
        int wdl = probeWdl(pos, &wdlResult), dtz = probeDtz(pos, &dtzResult);
        EXPECT_EQ(wdlResult != PROBE_FAILED, c.wdlKnown) << c.fen;
        EXPECT_EQ(dtzResult != PROBE_FAILED, c.dtzKnown) << c.fen;
        EXPECT_EQ(c.wdlKnown ? wdl : 0, c.wdl) << c.fen;
        EXPECT_EQ(c.dtzKnown ? dtz : 0, c.dtz) << c.fen;
    }
}

// The search's form: wins and losses by distance from the root, and the
// fifty-move rule's cursed wins either as small plus scores or as wins. No
// small real table has cursed wins, so a made-up KNvK table says that every
// position is a cursed win with White (the knight's side) to move and a
// blessed loss with Black to move.
TEST_F(TablebaseProbe, SearchScoreFollowsTheFiftyMoveRuleOption) {
    ScratchFolder dir("score");
    dir.write("KNvK.rtbw", singleValueTable(WDL_CURSED_WIN, WDL_BLESSED_LOSS));
    initTablebases(dir.path);
    struct Case {
        const char* fen;
        int fiftyMoveRule;
        Score expected;
    };
    const Case cases[] = {
        {"8/8/8/4k3/8/8/8/KN6 w - - 0 1", 1, 2},
        {"8/8/8/4k3/8/8/8/KN6 w - - 0 1", 0, TB_WIN_SCORE - 7},
        {"8/8/8/4k3/8/8/8/KN6 b - - 0 1", 1, -2},
        {"8/8/8/4k3/8/8/8/KN6 b - - 0 1", 0, 7 - TB_WIN_SCORE},
        // Black takes the knight: bare kings, a draw whatever the table says.
        {"8/8/8/8/8/8/1k6/KN6 b - - 0 1", 1, 0},
    };
    for (const Case& c : cases) {
        syzygy50MoveRule = c.fiftyMoveRule;
        Position pos = fromFen(c.fen);
        Score score;
        ASSERT_TRUE(probeWdlScore(pos, 7, &score)) << c.fen;
        EXPECT_EQ(score, c.expected) << c.fen << " rule " << c.fiftyMoveRule;
    }
    Position uncovered = fromFen("8/8/8/4k3/8/8/8/KR6 b - - 0 1");
    Score score;
    EXPECT_FALSE(probeWdlScore(uncovered, 3, &score));
}

}  // namespace
