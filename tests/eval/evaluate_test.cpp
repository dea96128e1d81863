// The evaluation entry: known results, lazy exit, damping, contempt, noise and
// colour symmetry, with the built-in network loaded.
#include <gtest/gtest.h>

#include <cstring>

#include "../board/board_test_util.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/evaluate.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/search_thread.h"

namespace {

class Evaluate : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        initMaterialWeights();
        buildSpecialMaterialTable();
        buildKpkBitbase();
        allocateEvalHashTables(*searchThreads[0]);
        weightsFile.clear();
        loadNetwork();
        ASSERT_NE(currentNetwork(), nullptr);
    }
    void TearDown() override {
        evalNoiseAmplitude = 0;
        contemptByColor[0] = contemptByColor[1] = 0;
        contemptPairByColor[0] = contemptPairByColor[1] = 0;
        lazyMargin = 600;
    }
    Score eval(Position& pos, Score alpha = -32000, Score beta = 32000) {
        uint8_t lazy = 0;
        return evaluate(pos, alpha, beta, &lazy);
    }
};

// The same position with colours swapped: ranks mirrored, pieces recoloured,
// the other side to move.
std::string flipColours(const std::string& fen) {
    std::string placement = fen.substr(0, fen.find(' '));
    std::vector<std::string> ranks;
    size_t start = 0;
    for (size_t slash; (slash = placement.find('/', start)) != std::string::npos; start = slash + 1)
        ranks.push_back(placement.substr(start, slash - start));
    ranks.push_back(placement.substr(start));
    std::string out;
    for (auto it = ranks.rbegin(); it != ranks.rend(); ++it) {
        for (char c : *it) out += std::isalpha(static_cast<unsigned char>(c)) ? (c ^ 32) : c;
        if (it + 1 != ranks.rend()) out += '/';
    }
    char side = fen[fen.find(' ') + 1];
    return out + (side == 'w' ? " b - -" : " w - -");
}

TEST_F(Evaluate, BareKingsAreAKnownDraw) {
    Position pos = fromFen("8/8/4k3/8/8/3K4/8/8 w - - 0 1");
    EXPECT_EQ(eval(pos), 0);
    // The contempt pair still applies to known results: c/4 with no pieces.
    contemptPairByColor[WHITE] = makeScorePair(10 * 40, 10 * 40 / 4);
    contemptPairByColor[BLACK] = makeScorePair(-10 * 40, -10 * 40 / 4);
    EXPECT_EQ(eval(pos), 10);
}

TEST_F(Evaluate, DampingScalesOnlyTheFirstHundredUnits) {
    EXPECT_EQ(dampByPhase(150, 0), 100);
    EXPECT_EQ(dampByPhase(-150, 0), -100);
    EXPECT_EQ(dampByPhase(80, 96), 80);
    EXPECT_EQ(dampByPhase(80, 0), 40);
    EXPECT_EQ(dampByPhase(1000, 48), 1000 - 100 + 75);
}

// Colour-swapped positions get negated evaluations from White's point of view
// (the same value for the side to move), on the network and the full entry.
TEST_F(Evaluate, ColourSwapGivesTheSameScoreForTheSideToMove) {
    std::mt19937 rng(3);
    int checked = 0;
    for (const PerftCase& c : loadPerftSuite()) {
        if (c.chess960) continue;
        randomWalk(c.fen, 30, rng, [&](const Position&, const Position& pos, Move) {
            char fen[128];
            writeFen(pos, fen);
            Position a = fromFen(fen), b = fromFen(flipColours(fen).c_str());
            ASSERT_EQ(scaledNetworkScore(a), -scaledNetworkScore(b)) << fen;
            ASSERT_EQ(eval(a), eval(b)) << fen;
            checked++;
        });
    }
    EXPECT_GT(checked, 500);
}

TEST_F(Evaluate, MaterialAdvantageShowsAtAboutAPawnAndAPiece) {
    Position pawnUp = fromFen("rnbqkbnr/ppppppp1/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    Position knightUp = fromFen("r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    EXPECT_GT(eval(pawnUp), 60);
    EXPECT_LT(eval(pawnUp), 200);
    EXPECT_GT(eval(knightUp), 300);
    EXPECT_LT(eval(knightUp), 600);
}

TEST_F(Evaluate, LazyExitOnlyOutsideTheWindowAndNotNearPromotion) {
    // White a queen and two rooks up: far outside a narrow window.
    Position big = fromFen("4k3/pppp4/8/8/8/8/PPPP4/RR1QK3 w - - 0 1");
    Score full = eval(big);
    Score lazy = eval(big, -10, 10);
    EXPECT_GT(lazy, 10);
    EXPECT_NE(lazy, full) << "the estimate comes from material alone";
    // A pawn one step from promotion turns the lazy exit off.
    Position promoting = fromFen("4k3/pppp3P/8/8/8/8/PPP5/RR1QK3 w - - 0 1");
    EXPECT_EQ(eval(promoting, -10, 10), eval(promoting));
}

TEST_F(Evaluate, OppositeWingKingsAddContemptByPhase) {
    const int c = 50;
    Position wings = fromFen("rnbq1rk1/pppppppp/8/8/8/8/PPPPPPPP/2KR1BNR w - - 0 1");
    Position same = fromFen("rnbq1rk1/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1RK1 w - - 0 1");
    Score wingsBase = eval(wings), sameBase = eval(same);
    contemptByColor[WHITE] = c;
    contemptByColor[BLACK] = -c;
    EXPECT_EQ(eval(wings) - wingsBase, (c * wings.phase) / 500);
    EXPECT_EQ(eval(same), sameBase);
}

TEST_F(Evaluate, NoiseIsBoundedAndRepeatable) {
    Position pos = fromFen("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
    Score base = eval(pos);
    evalNoiseAmplitude = 40;
    evalNoiseKey = 12345;
    Score noisy = eval(pos);
    EXPECT_GE(noisy, base - 20);
    EXPECT_LE(noisy, base - 20 + 39);
    EXPECT_EQ(eval(pos), noisy);
    evalNoiseKey = 99999;
    bool differs = false;
    for (uint64_t key = 1; key < 20 && !differs; key++) {
        evalNoiseKey = key;
        differs = eval(pos) != noisy;
    }
    EXPECT_TRUE(differs);
}

}  // namespace
