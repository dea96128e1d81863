#include "eval/material.h"

#include <algorithm>

#include "board/bitboard.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/special_material.h"

namespace {

// Piece counts of one side.
struct SideCounts {
    int pawns, knights, bishops, rooks, queens;

    int minors() const { return knights + bishops; }
    // Non-pawn material in the units of the scale rules.
    int nonPawn() const { return 24 * knights + 28 * bishops + 40 * rooks + 72 * queens; }
};

SideCounts countPieces(const Position& pos, Color c) {
    return SideCounts{popcount(pos.pieces[c][PAWN]), popcount(pos.pieces[c][KNIGHT]),
                      popcount(pos.pieces[c][BISHOP]), popcount(pos.pieces[c][ROOK]),
                      popcount(pos.pieces[c][QUEEN])};
}

// Scale factors by non-pawn material difference (in units of 8) without
// pawns, and by the leading side's pawn count.
constexpr float NO_PAWN_SCALE[4] = {0.05f, 0.11f, 0.2f, 0.28f};
constexpr float FEW_PAWN_SCALE[6] = {0.4f, 0.5f, 0.62f, 0.72f, 0.82f, 0.9f};

// One side's material in tenths of a Score unit. A piece's worth depends on
// the whole board (both colours' counts), so the same coefficients apply to
// both sides: rooks and queens lose value as more of them appear, knights
// gain with pawns. On top come the bishop pair (worth more against fewer
// minor pieces) and a penalty for redundant knights.
int32_t sideMaterial(const SideCounts& own, const SideCounts& opp) {
    int p2 = own.pawns + opp.pawns, n2 = own.knights + opp.knights, b2 = own.bishops + opp.bishops;
    int r2 = own.rooks + opp.rooks, q2 = own.queens + opp.queens;
    int cP = -37 * r2 + 10 * n2 - 65 * q2;
    int cN = -29 * r2 + 32 * b2 + 25 * p2 + 32 * q2;
    int cB = 33 * q2 + 3 * r2 + 25 * n2;
    int cR = -114 * q2 - 150 * r2 - 24 * n2 - 48 * p2 - b2;
    int cQ = -270 * q2 - 130 * r2 + 41 * b2 + 31 * n2 - 77 * p2;
    int32_t score = (cP + PieceValue[PAWN]) * own.pawns + (cN + PieceValue[KNIGHT]) * own.knights +
                    (cB + PieceValue[BISHOP]) * own.bishops + (cR + PieceValue[ROOK]) * own.rooks +
                    (cQ + PieceValue[QUEEN]) * own.queens;
    if (own.knights > 1) score -= 18;
    if (own.bishops >= 2) {
        score += 556 - 52 * own.queens - 11 * own.pawns;
        if (opp.knights == 0 && opp.bishops == 0) score += 41;
        if (opp.knights > 0 && opp.bishops == 0) score += 20;
    }
    return score;
}

// White's material lead in tenths of a Score unit; three or more extra minor
// pieces earn a bonus.
int32_t materialImbalance(const SideCounts& white, const SideCounts& black) {
    int32_t whiteScore = sideMaterial(white, black), blackScore = sideMaterial(black, white);
    if (white.minors() >= black.minors() + 3)
        whiteScore += 200;
    else if (black.minors() >= white.minors() + 3)
        blackScore += 200;
    return whiteScore - blackScore;
}

// Whether each side has exactly one bishop and the two stand on squares of
// different colours.
bool oppositeBishops(const Position& pos, const SideCounts& white, const SideCounts& black) {
    if (white.bishops != 1 || black.bishops != 1) return false;
    return squareColor(lsb(pos.pieces[WHITE][BISHOP])) != squareColor(lsb(pos.pieces[BLACK][BISHOP]));
}

// How far the material lead is likely to convert: pure pawn endings are
// sharpened, symmetric rook or queen endings and opposite bishops damped, and
// a lead without pawns (or with few) shrinks toward a draw, the more so the
// smaller the difference in pieces.
float materialScale(const Position& pos, const SideCounts& white, const SideCounts& black, int32_t imbalance,
                    bool opposite) {
    float scale = 1.0f;
    int npWhite = white.nonPawn(), npBlack = black.nonPawn();
    bool pawnsOnBoard = white.pawns + black.pawns > 0;
    if (pawnsOnBoard && npWhite == 0) {
        if (npBlack == 0) scale = 1.3f;
    } else if ((npWhite == 40 && npBlack == 40) || (npWhite == 72 && npBlack == 72)) {
        scale *= 0.9f;
    }
    if (opposite && npWhite == 28 && npBlack == 28) scale = 0.64f;

    int diff = std::abs(npWhite / 8 - npBlack / 8);
    if (!pawnsOnBoard) {
        if (diff <= 3) scale *= NO_PAWN_SCALE[diff];
    } else if (pos.phase != 0) {
        // The leading side (by material, else by pawns) and its pawn count.
        int leaderPawns, otherPawns;
        bool noPawnRule;
        if (imbalance != 0) {
            leaderPawns = imbalance > 0 ? white.pawns : black.pawns;
            otherPawns = imbalance > 0 ? black.pawns : white.pawns;
            noPawnRule = leaderPawns == 0 && otherPawns <= 1;
        } else {
            leaderPawns = std::max(white.pawns, black.pawns);
            noPawnRule = leaderPawns <= 1;
        }
        if (noPawnRule && diff <= 3)
            scale *= NO_PAWN_SCALE[diff];
        else if (leaderPawns <= 5)
            scale *= FEW_PAWN_SCALE[leaderPawns];
    }
    return scale;
}

// Turns the imbalance into the returned value: opposite bishops cost up to a
// fifth in the endgame, the scale applies, leads beyond 800 Score units are
// compressed with more pieces on the board (a third of the excess at full
// material), and a final fixed rescaling by 0.97 * 1.05.
int32_t materialValue(int32_t imbalance, float scale, bool opposite, int ph) {
    int32_t v = 96 * imbalance;
    if (opposite) v = int32_t(double(v) * (0.8 + ph * 0.001666666));
    v = int32_t(scale * float(v));
    if (v > 76800) v -= ((v - 76800) * ph) / 288;
    if (v < -76800) v -= ((v + 76800) * ph) / 288;
    return ((v * 97) / 100 * 105) / 100;
}

}  // namespace

// The common case is one probe of the thread's material hash. On a miss the
// special table decides fixed configurations (evaluator results depend on
// the squares and are not cached); everything else goes through the general
// formula. Positions set up before the thread's tables exist are evaluated
// without the cache.
int32_t evaluateMaterial(const Position& pos, float* scale) {
    const Key key = pos.materialKey;
    MaterialHashEntry* slot = pos.materialTable ? &materialHashSlot(*pos.materialTable, key) : nullptr;
    if (slot && slot->key == key) {
        *scale = slot->scale;
        return slot->value;
    }

    int32_t value;
    if (const SpecialMaterialEntry* special = findSpecialMaterial(key)) {
        if (special->evaluator) return 96 * special->evaluator(pos, scale);
        value = 96 * special->value;
        *scale = special->scale;
    } else {
        SideCounts white = countPieces(pos, WHITE), black = countPieces(pos, BLACK);
        int ph = std::min<int>(pos.phase, 96);
        int32_t imbalance = materialImbalance(white, black);
        bool opposite = oppositeBishops(pos, white, black);
        float materialScaleValue = materialScale(pos, white, black, imbalance, opposite);
        value = materialValue(imbalance, materialScaleValue, opposite, ph);
        *scale = materialScaleValue * materialPhaseScale[ph];
    }
    if (slot) *slot = MaterialHashEntry{key, *scale, value};
    return value;
}
