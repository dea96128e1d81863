#include "eval/evaluate.h"

#include <algorithm>
#include <cmath>

#include "board/bitboard.h"
#include "board/position.h"
#include "core/options.h"
#include "eval/material.h"
#include "eval/network/network.h"
#include "eval/network/network_manager.h"
#include "eval/regular_eval.h"

int32_t lazyMargin = 600;
int32_t evalNoiseAmplitude = 0;
uint64_t evalNoiseKey = 0;
std::atomic<int32_t> contemptByColor[2] = {0, 0};
std::atomic<ScorePair> contemptPairByColor[2] = {0, 0};

int mopUpSide(const Position& pos) {
    for (int c = 0; c < 2; c++) {
        Bitboard alone = pos.pieces[c ^ 1][0] & ~pos.pieces[c ^ 1][KING];
        if (!alone && (pos.pieces[c][ROOK] | pos.pieces[c][QUEEN])) return c;
    }
    return -1;
}

namespace {

// The technique, as a bonus for the strong side (White's view): the bare
// king far from the centre, the kings close together.
inline int32_t mopUpBonus(const Position& pos, int strong) {
    int weak = pos.kingSquare[strong ^ 1], own = pos.kingSquare[strong];
    int centre = std::max(3 - fileOf(weak), fileOf(weak) - 4) + std::max(3 - rankOf(weak), rankOf(weak) - 4);
    int kings = std::abs(fileOf(weak) - fileOf(own)) + std::abs(rankOf(weak) - rankOf(own));
    int32_t bonus = 20 * centre + 10 * (14 - kings);
    // A lone rook works by cutting the king off: the smaller the box of files
    // and ranks left to it beyond the rook's lines, the better.
    if (pos.pieces[strong][ROOK] && !pos.pieces[strong][QUEEN]) {
        int rook = lsb(pos.pieces[strong][ROOK]);
        int rf = fileOf(rook), rr = rankOf(rook), wf = fileOf(weak), wr = rankOf(weak);
        int files = wf < rf ? rf : wf > rf ? 7 - rf : 8;
        int ranks = wr < rr ? rr : wr > rr ? 7 - rr : 8;
        bonus += 3 * (64 - files * ranks);
    }
    return strong == WHITE ? bonus : -bonus;
}

// Adds the strength-limiting noise: the same position gets the same offset
// throughout one search, a fresh pattern in the next.
inline Score addNoise(Score v, const Position& pos) {
    if (evalNoiseAmplitude == 0) return v;
    uint64_t r = (evalNoiseKey ^ pos.key) % uint64_t(int64_t(evalNoiseAmplitude));
    return v - evalNoiseAmplitude / 2 + Score(r);
}

// Kings on opposite wings: one on files a-c, the other on files f-h.
inline bool kingsOnOppositeWings(const Position& pos) {
    int w = fileOf(pos.kingSquare[WHITE]), b = fileOf(pos.kingSquare[BLACK]);
    return (w <= 2 && b >= 5) || (w >= 5 && b <= 2);
}

inline int pawnCount(const Position& pos) {
    return popcount(pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN]);
}

// The network output scaled by "NNUE_Scale" and the pawn count (more pawns,
// larger scores). The product wraps in 32 bits as the weights' scale assumes.
inline int32_t scaleNetworkOutput(int32_t n, const Position& pos) {
    int32_t k = nnueScale * (1024 + 20 * pawnCount(pos));
    return int32_t(uint32_t(int64_t(n) * k)) / 102400;
}

// The phase interpolation of the contempt pair, divided down to score units.
inline int32_t contemptPairTerm(int phase) {
    ScorePair pair = contemptPairByColor[WHITE];
    return (pairHigh(pair) * phase + pairLow(pair) * (96 - phase)) / 960;
}

}  // namespace

// Small scores count for less with less material: the first 100 units are
// scaled by (48 + phase/2) / 96; the part beyond +-100 passes undamped.
int32_t dampByPhase(int32_t t, int phase) {
    int32_t c = std::clamp(t, -100, 100);
    return (c * (48 + phase / 2)) / 96 + (t - c);
}

Score evaluate(Position& pos, Score alpha, Score beta, uint8_t* lazy) {
    int stmSign = pos.sideToMove() == WHITE ? 1 : -1;
    int phase = pos.phase;

    // Under noise (a weakened level), a rook or queen against a bare king is
    // valued by material and the mop-up technique alone, without noise: even
    // the weakest levels then finish such games as a chess engine should.
    if (evalNoiseAmplitude != 0) {
        if (int strong = mopUpSide(pos); strong >= 0) {
            float scale = 0.0f;
            int32_t material = evaluateMaterial(pos, &scale);
            return stmSign * (material / 960 + mopUpBonus(pos, strong));
        }
    }

    // The hand-written evaluation applies its own contempt and clamp.
    if (useRegularEval) {
        Score v = addNoise(regularEvaluate(pos, alpha, beta, lazy), pos);
        if (kingsOnOppositeWings(pos)) v += (phase * contemptByColor[pos.sideToMove()]) / 500;
        return v;
    }

    // Step 1: the material pre-pass.
    float scale = 0.0f;
    int32_t material = evaluateMaterial(pos, &scale);

    // Step 2: a known result by material alone; the network is not asked.
    if (scale == 0.0f) {
        ScorePair pair = contemptPairByColor[WHITE];
        int32_t v = stmSign * (material + pairHigh(pair) * phase + pairLow(pair) * (96 - phase)) / 960;
        return addNoise(v, pos);
    }

    // Step 3: the lazy exit, when a cheap estimate lies far outside the window
    // (never in the late endgame or with a pawn about to promote).
    bool promotionNear = (pos.pieces[WHITE][PAWN] & rankBB(6)) || (pos.pieces[BLACK][PAWN] & rankBB(1));
    if (phase > 6 && !promotionNear) {
        float positional = float(pairLow(pos.psqScore) * phase + pairHigh(pos.psqScore) * (96 - phase));
        int32_t a = int32_t(std::fma(scale, positional, float(material))) / 960;
        if (std::abs(a) > lazyMargin) {
            int32_t w = stmSign * a;
            if (w > beta || w < alpha) return w;
        }
    }

    // Steps 4 and 5: the network and its output scaling.
    int32_t t = scaleNetworkOutput(networkEvaluate(*currentNetwork(), pos, pos.accumulatorCache), pos);

    // Step 6: damp the first 100 units by game phase.
    int32_t d = dampByPhase(t, phase);

    // Steps 7 to 9: contempt, from White's point of view.
    int32_t w = stmSign * d;
    if (kingsOnOppositeWings(pos)) w += (contemptByColor[WHITE] * phase) / 500;
    w += contemptPairTerm(phase);

    // Steps 10 to 12: tempo, noise, clamp.
    Score v = addNoise(stmSign * w + 2, pos);
    return std::clamp(v, -EVAL_LIMIT, EVAL_LIMIT);
}

int32_t scaledNetworkScore(Position& pos) {
    int32_t n = networkEvaluate(*currentNetwork(), pos);
    int32_t k = nnueScale * (1024 + 20 * pawnCount(pos));
    int32_t value = int32_t(uint32_t(int64_t(n) * k)) / 102400;
    if (pos.sideToMove() == BLACK) value = -value;
    return std::clamp(value, -EVAL_LIMIT, EVAL_LIMIT);
}
