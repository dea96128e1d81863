// The hand-written evaluation: the pawn entry, the rear doubled pawn, the
// wrong bishop cap, known results, the pawn hash and the lazy exit, colour
// symmetry, and the tracer that the tuner fits against.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_trace.h"
#include "eval/eval_weights.h"
#include "eval/evaluate.h"
#include "eval/kpk_bitbase.h"
#include "eval/material.h"
#include "eval/pawn_eval.h"
#include "eval/regular_eval.h"
#include "eval/regular_weights.h"
#include "eval/special_material.h"
#include "search/search_thread.h"

namespace {

constexpr Score FULL_ALPHA = -32000, FULL_BETA = 32000;

class RegularEval : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        initMaterialWeights();
        buildSpecialMaterialTable();
        buildKpkBitbase();
        allocateEvalHashTables(*searchThreads[0]);
    }
    // Weights, king danger and contempt are process-wide: leave them as the
    // other suites expect them.
    void TearDown() override {
        contemptPairByColor[WHITE] = 0;
        contemptPairByColor[BLACK] = 0;
        buildRegularWeights(TunedWeights.data(), DEFAULT_STYLE_FIELDS);
        setKingDanger(kingSafety);
    }

    // A position on the main thread's caches, as the search would hand it over.
    static Position at(const std::string& fen) {
        Position pos = fromFen(fen.c_str());
        pos.pawnTable = searchThreads[0]->pawnTable;
        pos.materialTable = searchThreads[0]->materialTable;
        return pos;
    }
    static Score eval(Position& pos, Score alpha = FULL_ALPHA, Score beta = FULL_BETA, uint8_t* lazy = nullptr) {
        uint8_t ignored = 0;
        return regularEvaluate(pos, alpha, beta, lazy ? lazy : &ignored);
    }
    static void clearPawnHash() {
        PawnHashTable* t = searchThreads[0]->pawnTable;
        std::memset(static_cast<void*>(t->entries), 0, t->entryCount * sizeof(PawnHashEntry));
    }
};

// The colour-swapped position: ranks mirrored, piece letters, side to move,
// castling rights and the en-passant square all exchanged.
std::string flipColours(const std::string& fen) {
    std::istringstream in(fen);
    std::string placement, side, castling = "-", ep = "-";
    in >> placement >> side >> castling >> ep;
    std::vector<std::string> ranks;
    size_t start = 0;
    for (size_t slash; (slash = placement.find('/', start)) != std::string::npos; start = slash + 1)
        ranks.push_back(placement.substr(start, slash - start));
    ranks.push_back(placement.substr(start));
    std::string out;
    for (auto it = ranks.rbegin(); it != ranks.rend(); ++it) {
        for (char c : *it) out += std::isalpha(static_cast<unsigned char>(c)) ? char(c ^ 32) : c;
        if (it + 1 != ranks.rend()) out += '/';
    }
    std::string rights;
    for (char c : std::string("KQkq"))
        if (castling.find(char(c ^ 32)) != std::string::npos) rights += c;
    if (rights.empty()) rights = "-";
    if (ep != "-") ep[1] = char('1' + '8' - ep[1]);
    return out + (side == "w" ? " b " : " w ") + rights + " " + ep + " 0 1";
}

// Positions from random legal games: from the start position and from every
// standard-chess position of the perft suite.
std::vector<std::string> gamePositions(int pliesPerGame, unsigned seed) {
    std::vector<std::string> fens;
    std::mt19937 rng(seed);
    std::vector<std::string> starts(8, START_FEN);
    for (const PerftCase& c : loadPerftSuite())
        if (!c.chess960) starts.push_back(c.fen);
    for (const std::string& s : starts)
        randomWalk(s, pliesPerGame, rng, [&](const Position&, const Position& pos, Move) {
            char fen[128];
            writeFen(pos, fen);
            fens.push_back(fen);
        });
    return fens;
}

// The weights counted in [from, to) times the weights in use: what the tuner
// takes the evaluation to be, less its fixed terms.
ScorePair weighted(const EvalTrace& t, int from, int to) {
    ScorePair sum = 0;
    for (int w = from; w < to; w++) sum += t.coef[w] * RegularWeight[w];
    return sum;
}

ScorePair pawnPairOf(const EvalTrace& t) {
    return makeScorePair(pairHigh(t.pawnRaw) * 97 / 100, pairLow(t.pawnRaw) * 97 / 100);
}

// --- The pawn entry -------------------------------------------------------

TEST_F(RegularEval, StartPositionPawnEntry) {
    Position pos = at(START_FEN);
    PawnHashEntry* e = nullptr;
    evaluatePawns(pos, e);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->key, pos.pawnKey);
    EXPECT_EQ(e->closedness, 0);
    EXPECT_EQ(e->passedSquares[WHITE][0], 0);
    EXPECT_EQ(e->passedSquares[BLACK][0], 0);
    EXPECT_EQ(e->openFiles, 0);
    EXPECT_EQ(e->kingPlacement, 1);
    EXPECT_TRUE(e->fewFiles);
    EXPECT_EQ(pairHigh(e->score), 0) << "a symmetric structure is level";
    EXPECT_EQ(pairLow(e->score), 0);
}

TEST_F(RegularEval, PassedPawnsAreListedByColour) {
    struct Case {
        const char* fen;
        std::vector<int> white, black;  // passed squares, ascending
    } cases[] = {
        {"4k3/8/8/4P3/8/8/8/4K3 w - - 0 1", {E5}, {}},
        {"4k3/8/3p4/4P3/8/8/8/4K3 w - - 0 1", {}, {}},        // d6 guards e6, e5 guards d4
        {"4k3/8/4p3/4P3/8/8/8/4K3 w - - 0 1", {}, {}},        // blocked head-on
        {"4k3/5p2/8/4P3/8/8/8/4K3 w - - 0 1", {}, {}},        // f7 can still take on f6
        {"4k3/8/8/3pP3/8/8/8/4K3 w - - 0 1", {E5}, {D5}},     // side by side: both free to run
        {"4k3/8/8/4P3/3p4/8/8/4K3 w - - 0 1", {E5}, {D4}},    // a pawn behind cannot stop it
        {"4k3/8/8/4P3/4P3/8/8/4K3 w - - 0 1", {E5}, {}},      // only the front pawn of a doubled file
        {"4k3/7p/8/8/8/8/P7/4K3 w - - 0 1", {A2}, {H7}},
        {"4k3/8/8/8/8/2P1P3/3p4/4K3 b - - 0 1", {C3, E3}, {D2}},  // passed the d-pawn
    };
    for (const Case& c : cases) {
        Position pos = at(c.fen);
        PawnHashEntry e{};
        evaluatePawnsTraced(pos, e, nullptr);
        for (Color side : {WHITE, BLACK}) {
            const std::vector<int>& want = side == WHITE ? c.white : c.black;
            std::vector<int> got;
            for (int i = 0; i < 8 && e.passedSquares[side][i]; i++) got.push_back(e.passedSquares[side][i]);
            EXPECT_EQ(got, want) << c.fen << (side == WHITE ? " white" : " black");
        }
    }
}

// The rear pawn of a doubled file with no pawn defending it pays a fixed
// (-36, -50) on top of the fitted doubled and isolated weights. The position
// is chosen so that nothing else outside the fitted weights applies: no
// centre control, no connected pawns, kings away from the queening square.
TEST_F(RegularEval, UndefendedRearDoubledPawnPaysItsFixedPenalty) {
    const std::string fen = "k7/2P5/2P5/8/8/8/8/K7 w - - 0 1";
    for (bool flipped : {false, true}) {
        Position pos = at(flipped ? flipColours(fen) : fen);
        PawnHashEntry e{};
        EvalTrace trace{};
        evaluatePawnsTraced(pos, e, &trace);
        int sign = flipped ? -1 : 1;
        EXPECT_EQ(trace.coef[W_PAWN_DOUBLED], sign * 1);
        EXPECT_EQ(trace.coef[W_PAWN_ISOLATED + 3], sign * 2) << "both c-pawns: inner file, no enemy pawn";
        EXPECT_EQ(trace.coef[W_PAWN_DOUBLED_ISOLATED + 3], sign * 1) << "only the rear one";
        ScorePair fixed = trace.pawnRaw - weighted(trace, 0, W_PAWN_PART_END);
        EXPECT_EQ(pairHigh(fixed), sign * -36) << pos.pawnKey;
        EXPECT_EQ(pairLow(fixed), sign * -50);
    }
}

// --- Assembly ---------------------------------------------------------------

// A rook's pawn with the bishop of the wrong colour and the defending king in
// the corner is held to 30 tenths before tempo; the right bishop, or the king
// away from the corner, lets the full advantage through.
TEST_F(RegularEval, WrongBishopCapsTheRooksPawnEnding) {
    struct Case {
        const char* fen;
        bool capped;
    } cases[] = {
        {"k7/8/8/8/8/P7/8/2B1K3 w - - 0 1", true},   // dark bishop, a8 corner
        {"8/1k6/8/8/8/P7/8/2B1K3 w - - 0 1", true},   // b7 is close enough
        {"k7/8/8/8/8/P7/8/3BK3 w - - 0 1", false},  // light bishop covers a8
        {"4k3/8/8/8/8/P7/8/2B1K3 w - - 0 1", false},  // king too far from the corner
        {"7k/8/8/8/8/7P/8/3BK3 w - - 0 1", true},     // h-pawn, light bishop
        {"7k/8/8/8/8/7P/8/2B1K3 w - - 0 1", false},   // h-pawn, dark bishop covers h8
    };
    for (const Case& c : cases) {
        for (bool flipped : {false, true}) {
            for (bool blackToMove : {false, true}) {
                std::string fen = flipped ? flipColours(c.fen) : c.fen;
                // The stronger side is White unless flipped; try both sides to move.
                if (blackToMove != (fen.find(" b ") != std::string::npos)) {
                    size_t where = fen.find(blackToMove ? " w " : " b ");
                    fen.replace(where, 3, blackToMove ? " b " : " w ");
                }
                Position pos = at(fen);
                ASSERT_GE(pos.phase, 4);
                ASSERT_LE(pos.phase, 8);
                Score v = eval(pos);
                Color strong = flipped ? BLACK : WHITE;
                Score forStrong = pos.sideToMove() == strong ? v : -v;
                if (c.capped) {
                    // 30 tenths, then the mover's tempo (6.4 units at phase 4):
                    // 9 with the stronger side to move, -3 with the other.
                    if (pos.sideToMove() == strong) {
                        EXPECT_GE(forStrong, 0) << fen;
                        EXPECT_LE(forStrong, 10) << fen;
                    } else {
                        EXPECT_LE(std::abs(forStrong), 3) << fen;
                    }
                } else {
                    EXPECT_GT(forStrong, 100) << fen;
                }
            }
        }
    }
}

// Known results by material (scale 0) return before the pawn structure is
// looked at: only their material value and the contempt are left.
TEST_F(RegularEval, KnownResultsSkipThePawnHash) {
    for (const char* fen : {"8/8/4k3/8/8/3K4/8/8 w - - 0 1", "8/8/4k3/8/8/3K4/8/8 b - - 0 1",
                            "8/8/4k3/8/8/3K1B2/8/8 w - - 0 1", "8/8/4k3/8/8/3K1B2/8/8 b - - 0 1",
                            "8/8/4k1n1/8/8/3K4/8/8 w - - 0 1"}) {
        Position pos = at(fen);
        float scale = 1.0f;
        int32_t m = evaluateMaterial(pos, &scale);
        ASSERT_EQ(scale, 0.0f) << fen;
        int stm = pos.sideToMove() == WHITE ? 1 : -1;
        uint64_t probes = searchThreads[0]->pawnTable->probes;
        uint8_t lazy = 7;
        Score v = eval(pos, FULL_ALPHA, FULL_BETA, &lazy);
        EXPECT_EQ(v, stm * m / 960) << fen;
        EXPECT_LE(std::abs(v), 1) << fen << ": a lone minor cannot win";
        EXPECT_EQ(lazy, 0) << fen;
        EXPECT_EQ(searchThreads[0]->pawnTable->probes, probes) << fen;
        EvalTrace trace;
        Score traced = 12345;
        EXPECT_FALSE(traceRegularEvaluate(pos, trace, &traced)) << fen;
        EXPECT_EQ(traced, 12345) << fen;
    }
    // Contempt (White's view) with bare kings: the endgame half at phase 0,
    // ten tenths.
    contemptPairByColor[WHITE] = makeScorePair(400, 100);
    contemptPairByColor[BLACK] = makeScorePair(-400, -100);
    Position white = at("8/8/4k3/8/8/3K4/8/8 w - - 0 1"), black = at("8/8/4k3/8/8/3K4/8/8 b - - 0 1");
    EXPECT_EQ(eval(white), 10);
    EXPECT_EQ(eval(black), -10);
}

// The last step: 88 % of the score while neither side is 20 units ahead in
// material. At phase 96 there is no damping and tempo is 16 units.
TEST_F(RegularEval, EightyEightPercentOnlyWithBalancedMaterial) {
    AssemblyInputs in;
    in.phase = 96;
    in.fileClass[WHITE] = in.fileClass[BLACK] = 8;
    const ScorePair pawns = makeScorePair(9840, 0);  // 984 units for White before tempo
    struct Case {
        int32_t material;
        int stm;
        Score expected;
    } cases[] = {
        {0, 1, 1000 * 88 / 100},     // 984 + 16 tempo
        {0, -1, -(968 * 88 / 100)},  // Black to move: tempo goes the other way
        {19199, 1, 1020 * 88 / 100}, // just short of 20 units of material
        {19200, 1, 1020},            // 20 units ahead: no reduction
        {-19200, -1, -948},
    };
    for (const Case& c : cases) {
        in.material = c.material;
        in.stmSign = c.stm;
        EXPECT_EQ(assembleRegular(in, pawns, 0, 0, 0, nullptr), c.expected) << c.material << " " << c.stm;
    }
}

// --- Pawn hash and lazy exit ------------------------------------------------

TEST_F(RegularEval, SecondCallHitsThePawnHashWithTheSameValue) {
    for (const char* fen : {START_FEN, "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N2N2/PP2BPPP/R2QKB1R w KQ - 0 8",
                            "8/5pk1/6p1/3P4/1p6/8/5PPP/6K1 b - - 0 40"}) {
        clearPawnHash();
        Position first = at(fen), second = at(fen);
        PawnHashTable before = *searchThreads[0]->pawnTable;
        Score v1 = eval(first);
        EXPECT_EQ(searchThreads[0]->pawnTable->probes, before.probes + 1) << fen;
        EXPECT_EQ(searchThreads[0]->pawnTable->hits, before.hits) << fen;
        Score v2 = eval(second);
        EXPECT_EQ(v2, v1) << fen;
        EXPECT_EQ(searchThreads[0]->pawnTable->probes, before.probes + 2) << fen;
        EXPECT_EQ(searchThreads[0]->pawnTable->hits, before.hits + 1) << fen;

        // What the hash keeps is what a fresh computation gives.
        const PawnHashEntry& cached = first.pawnTable->entries[first.pawnKey & pawnHashMask];
        PawnHashEntry fresh{};
        evaluatePawnsTraced(first, fresh, nullptr);
        EXPECT_EQ(cached.key, fresh.key) << fen;
        EXPECT_EQ(cached.score, fresh.score) << fen;
        EXPECT_EQ(0, std::memcmp(cached.passedSquares, fresh.passedSquares, sizeof fresh.passedSquares)) << fen;
        EXPECT_EQ(cached.shelterAdjust[WHITE], fresh.shelterAdjust[WHITE]) << fen;
        EXPECT_EQ(cached.shelterAdjust[BLACK], fresh.shelterAdjust[BLACK]) << fen;
        EXPECT_EQ(cached.closedness, fresh.closedness) << fen;
        EXPECT_EQ(cached.fewFiles, fresh.fewFiles) << fen;
    }
}

// After a full evaluation the position keeps its positional value; a later
// call with a window far from it returns the estimate, except in the late
// endgame (phase 6 or less) and with a pawn about to promote.
TEST_F(RegularEval, LazyExitOnTheCachedPositionalValue) {
    struct Case {
        const char* fen;
        bool lazy;
    } cases[] = {
        {START_FEN, true},
        {"r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N2N2/PP2BPPP/R2QKB1R b KQ - 0 8", true},
        {"3rk3/5ppp/8/8/8/8/5PPP/3RK3 w - - 0 1", true},           // phase 16
        {"4k3/5ppp/8/8/8/2N5/5PPP/4K3 w - - 0 1", false},          // phase 3
        {"4k3/ppp5/8/8/8/8/PPP5/4K3 w - - 0 1", false},            // phase 0
        {"3rk3/1P3ppp/8/8/8/8/5PPP/3RK3 w - - 0 1", false},        // b7 about to promote
        {"3rk3/5ppp/8/8/8/8/p4PPP/3RK3 b - - 0 1", false},         // a2 about to promote
    };
    for (const Case& c : cases) {
        Position pos = at(c.fen);
        uint8_t lazy = 9;
        Score full = eval(pos, FULL_ALPHA, FULL_BETA, &lazy);
        EXPECT_EQ(lazy, 0) << c.fen;
        for (int side : {1, -1}) {
            Score alpha = side > 0 ? full + 5000 : full - 5001, beta = alpha + 1;
            Score v = eval(pos, alpha, beta, &lazy);
            EXPECT_EQ(lazy, c.lazy ? 1 : 0) << c.fen << " window " << alpha;
            if (c.lazy) {
                EXPECT_TRUE(v < alpha || v > beta) << c.fen << ": an estimate inside the window";
            } else {
                EXPECT_EQ(v, full) << c.fen;
            }
        }
    }
}

// --- Symmetry and the tracer -----------------------------------------------

// Swapping the colours gives the same score for the side to move, and the
// tracer counts every weight for the other side.
TEST_F(RegularEval, ColourSwapGivesTheSameScoreAndNegatedTrace) {
    std::vector<std::string> fens = gamePositions(60, 11);
    ASSERT_GT(fens.size(), 2000u);
    for (const std::string& fen : fens) {
        std::string other = flipColours(fen);
        Position a = at(fen), b = at(other);
        ASSERT_EQ(eval(a), eval(b)) << fen << "  vs  " << other;

        EvalTrace ta, tb;
        Score va = 0, vb = 0;
        bool fullA = traceRegularEvaluate(a, ta, &va), fullB = traceRegularEvaluate(b, tb, &vb);
        ASSERT_EQ(fullA, fullB) << fen;
        if (!fullA) continue;
        EXPECT_EQ(va, vb) << fen;
        EXPECT_EQ(ta.pawnRaw, -tb.pawnRaw) << fen;
        EXPECT_EQ(ta.pieceRaw, -tb.pieceRaw) << fen;
        for (int w = 0; w < W_COUNT; w++) {
            int offset = 0;
            const char* block = weightBlockName(w, &offset);
            ASSERT_EQ(ta.coef[w], -tb.coef[w]) << fen << ": " << block << "[" << offset << "]";
        }
    }
}

// The tuner rebuilds the score from the trace: the weighted counts plus fixed
// terms, through the same final assembly. The value it gets must be the one
// the search sees.
TEST_F(RegularEval, TraceReassemblesToTheSearchValue) {
    std::vector<std::string> fens = gamePositions(40, 5);
    int full = 0;
    for (const std::string& fen : fens) {
        Position traced = at(fen), searched = at(fen);
        EvalTrace t;
        Score tv = 0;
        if (!traceRegularEvaluate(traced, t, &tv)) continue;
        full++;
        ASSERT_TRUE(t.fullEvaluation) << fen;
        ScorePair late = weighted(t, W_LATE_CLASS, W_LATE_PART_END);
        EXPECT_EQ(assembleRegular(t.inputs, pawnPairOf(t), t.pieceRaw, late, 0, nullptr), tv) << fen;
        uint8_t lazy = 1;
        EXPECT_EQ(eval(searched, FULL_ALPHA, FULL_BETA, &lazy), tv) << fen;
        EXPECT_EQ(lazy, 0) << fen;
    }
    EXPECT_GT(full, 1000);
}

// The trace is only useful to the tuner if the evaluation is linear in the
// weights: with every weight changed, the part that the counts do not explain
// stays the same. The shelter and storm weights are left alone: they choose
// between the king's zones and feed the king-danger adjustment, so they are
// not linear by design.
TEST_F(RegularEval, TraceCountsPredictTheEffectOfNewWeights) {
    std::vector<std::string> fens = gamePositions(30, 23);
    struct Fixed {
        ScorePair pawns, pieces;
        std::vector<int16_t> coef;
    };
    auto fixedParts = [&](std::vector<Fixed>& out) {
        for (const std::string& fen : fens) {
            Position pos = at(fen);
            EvalTrace t;
            Score v = 0;
            Fixed f{0, 0, {}};
            if (traceRegularEvaluate(pos, t, &v)) {
                f.pawns = t.pawnRaw - weighted(t, 0, W_PAWN_PART_END);
                f.pieces = t.pieceRaw - weighted(t, W_LATE_PART_END, W_COUNT);
                f.coef.assign(t.coef, t.coef + W_COUNT);
            }
            out.push_back(f);
        }
    };
    std::vector<Fixed> tuned, changed;
    fixedParts(tuned);

    WeightSet other = TunedWeights;
    std::mt19937 rng(7);
    for (int w = 0; w < W_COUNT; w++) {
        if (w >= W_PAWN_SHELTER && w < W_PASSED_SUPPORTED) continue;
        other[w] += makeScorePair(int(rng() % 81) - 40, int(rng() % 81) - 40);
    }
    buildRegularWeights(other.data(), DEFAULT_STYLE_FIELDS);
    fixedParts(changed);

    for (size_t i = 0; i < fens.size(); i++) {
        ASSERT_EQ(tuned[i].coef, changed[i].coef) << fens[i];
        EXPECT_EQ(tuned[i].pawns, changed[i].pawns) << fens[i];
        EXPECT_EQ(tuned[i].pieces, changed[i].pieces) << fens[i];
    }
}

// --- King safety ------------------------------------------------------------

TEST_F(RegularEval, KingSafetyScalesTheDangerTable) {
    setKingDanger(0);
    for (int x = 0; x < 512; x++) ASSERT_EQ(kingDangerTable[x], 0) << x;
    // Queen, knight and bishop all bearing on the castled king.
    Position attack = at("6k1/5ppp/8/6N1/8/3B1Q2/5PPP/6K1 w - - 0 1");
    Position quiet = at(START_FEN);
    Score attack0 = eval(attack), quiet0 = eval(quiet);

    setKingDanger(83);
    EXPECT_EQ(kingDangerTable[0], 0);
    EXPECT_EQ(pairHigh(kingDangerTable[511]), 83 * 1476 / 10);
    for (int x = 1; x < 512; x++) {
        ASSERT_GE(kingDangerTable[x], kingDangerTable[x - 1]) << x;
        ASSERT_EQ(pairLow(kingDangerTable[x]), 0) << x;
    }
    Position attackAgain = at("6k1/5ppp/8/6N1/8/3B1Q2/5PPP/6K1 w - - 0 1"), quietAgain = at(START_FEN);
    EXPECT_GT(eval(attackAgain), attack0);
    EXPECT_EQ(eval(quietAgain), quiet0);
}

}  // namespace
