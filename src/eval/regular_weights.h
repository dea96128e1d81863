// The weights of the hand-written evaluation: one flat list of score pairs
// (high half for the middlegame, low half for the endgame, tenths of a Score
// unit) that the tuner fits, and the tables the evaluation reads, built from
// that list and the style's percentage changes.
#pragma once

#include <array>
#include <cstdint>

#include "eval/score.h"

// Index of each weight in the flat list. The list falls in three parts that
// the final assembly treats differently: pawn-structure weights (cached in the
// pawn hash, scaled by 97/100), the late-phase pairs (added as they are), and
// piece weights (scaled by the dynamism factors).
enum WeightIndex : int {
    // Pawn part.
    W_PAWN_PSQ = 0,                                     // 32: rank * 4 + file folded to a-d
    W_PAWN_ADVANCED_ATTACKED = W_PAWN_PSQ + 32,         // per pawn
    W_PAWN_ATTACKED_BY_BLOCKED,                         // per pawn
    W_PAWN_DOUBLED,                                     // per extra pawn on a file
    W_PAWN_ISOLATED,                                    // 4: edge closed, edge open, inner closed, inner open
    W_PAWN_DOUBLED_ISOLATED = W_PAWN_ISOLATED + 4,      // 4: the same split
    W_PAWN_BACKWARD = W_PAWN_DOUBLED_ISOLATED + 4,      // 3: edge, inner, open
    W_PAWN_PUSH_ATTACKED = W_PAWN_BACKWARD + 3,         // per pawn
    W_PAWN_CONTROL_OUTSIDE,                             // per square
    W_PAWN_KING_CENTRE_DISTANCE,                        // per file of distance
    W_PAWN_PASSED_FILE,                                 // 4: file folded to a-d
    W_PAWN_SHELTER = W_PAWN_PASSED_FILE + 4,            // 8 by rank
    W_PAWN_STORM_UNOPPOSED = W_PAWN_SHELTER + 8,        // 8 by rank
    W_PAWN_STORM_BLOCKED = W_PAWN_STORM_UNOPPOSED + 8,  // 8 by rank
    W_PAWN_STORM_OPPOSED = W_PAWN_STORM_BLOCKED + 8,    // 8 by rank
    W_PAWN_STORM_FILES = W_PAWN_STORM_OPPOSED + 8,      // 4 by file count
    W_PASSED_SUPPORTED = W_PAWN_STORM_FILES + 4,        // 8 by relative rank
    W_CANDIDATE = W_PASSED_SUPPORTED + 8,               // 8 by relative rank
    W_PASSED_RANK = W_CANDIDATE + 8,                    // 8 by relative rank (ranks 3-6 used)
    W_PASSED_OWN_KING = W_PASSED_RANK + 8,              // 8 by relative rank, per square of distance
    W_PASSED_ENEMY_KING = W_PASSED_OWN_KING + 8,        // 8 by relative rank, per square of distance
    W_CANDIDATE_OWN_KING = W_PASSED_ENEMY_KING + 8,     // 8 by relative rank - 1, per square of distance
    W_CANDIDATE_ENEMY_KING = W_CANDIDATE_OWN_KING + 8,  // 8 by relative rank - 1, per square of distance
    W_PAWN_PART_END = W_CANDIDATE_ENEMY_KING + 8,

    // Late-phase part.
    W_LATE_CLASS = W_PAWN_PART_END,  // 9 by class byte
    W_LATE_PART_END = W_LATE_CLASS + 9,

    // Piece part.
    W_PSQ = W_LATE_PART_END,                      // 5 types (knight..king) x 32
    W_MOBILITY = W_PSQ + 5 * 32,                  // knight 9, bishop 14, rook 15, queen 28
    W_PASSED_BLOCKED = W_MOBILITY + 66,           // 8 by relative rank
    W_PASSED_FREE_PATH = W_PASSED_BLOCKED + 8,    // 8 by relative rank
    W_PASSED_SAFE_STOP = W_PASSED_FREE_PATH + 8,  // 8 by relative rank
    W_ROOK_BEHIND_PASSER = W_PASSED_SAFE_STOP + 8,
    W_THREAT_BY_PAWN,
    W_THREAT_MINOR_ON_ROOK,
    W_THREAT_ON_QUEEN,
    W_THREAT_ROOK_ON_QUEEN,
    W_THREAT_HANGING,
    W_THREAT_BY_KING,
    W_THREAT_PAWN_PUSH,
    W_KNIGHT_OUTPOST,
    W_BISHOP_OUTPOST,
    W_ROOK_OPEN_FILE,
    W_ROOK_SEMI_OPEN_FILE,
    W_ROOK_SEVENTH,
    W_BAD_BISHOP,
    W_MINOR_BEHIND_PAWN,
    W_KING_PAWN_DISTANCE,
    W_COUNT
};

constexpr int MOBILITY_OFFSET[6] = {0, 0, 0, 9, 23, 38};  // by piece type, within W_MOBILITY

// The fitted base weights, as the tuner wrote them, and the hand-set values it
// started from.
using WeightSet = std::array<ScorePair, W_COUNT>;
extern const WeightSet TunedWeights;
extern const WeightSet InitialWeights;

// The weights in use: the base weights with the style's group percentages.
extern ScorePair RegularWeight[W_COUNT];

// The style fields f0..f14 of the Default style.
constexpr int32_t DEFAULT_STYLE_FIELDS[15] = {16, 0, 6, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 120};

// Which style field (0..14) scales a weight, or -1 for none.
int styleFieldOfWeight(int w);

// A short name for a weight (block name and offset), for the tuner's output.
const char* weightBlockName(int w, int* offset);

// Fills RegularWeight from base weights and the style's fields f0..f14 (only
// the group fields are read), then every table derived from them.
void buildRegularWeights(const ScorePair* base, const int32_t* styleFields);

// (100 + percent) / 100 of both halves of a pair, each truncated.
constexpr ScorePair scalePair(ScorePair p, int percent) {
    return makeScorePair(pairHigh(p) * (100 + percent) / 100, pairLow(p) * (100 + percent) / 100);
}

// Tables read by the pawn evaluation, by count, rank or square, built by
// buildRegularWeights.
struct PawnWeightTables {
    ScorePair advancedAttacked[9], attackedByBlocked[9], doubledCount[9];
    ScorePair isolated[4][9], doubledIsolated[4][9];  // edge closed, edge open, inner closed, inner open
    ScorePair backward[3][9];                         // edge, inner, open
    ScorePair pushAttacked[9];
    ScorePair controlOutside[65], controlCentre[17];
    ScorePair kingCentreDistance[8];
    ScorePair passedFile[8];
    ScorePair shelter[8], stormUnopposed[8], stormBlocked[8], stormOpposed[8], stormFiles[4];
    int32_t connectedWeight[8];
    ScorePair passedSupported[2][64], candidate[2][64];
    ScorePair passedOwnKing[8][9], passedEnemyKing[8][9], candidateOwnKing[8][9], candidateEnemyKing[8][9];
    ScorePair pawnPsq[2][64];
};
extern PawnWeightTables PawnWeights;

// Late-phase pairs by class byte, and the tempo bonus by phase (tenths).
extern ScorePair LatePhasePair[9];
extern int32_t TempoByPhase[97];

// File byte (bit f: a pawn on file f) to class byte 0..8: how much room the
// pawns leave to win, from none (no pawns, or one rook's file) to 8.
extern uint8_t pawnFileClass[256];

// The dynamism factors of the piece part, high and low half, over 128.
extern int32_t dynamismFactorHigh, dynamismFactorLow;

// Sets the dynamism factors from a dynamism value d: high d * 160 / 100, low
// d * 193 / 100.
void setDynamismFactors(int d);

// King danger: the curve (0..1476 by attack index 0..511) and the table of
// pairs (high "King Safety" * curve / 10, low 0).
extern int32_t kingDangerCurve[512];
extern ScorePair kingDangerTable[512];
void setKingDanger(int multiplier);

// Attack-index weights of each side (the attacking side's), before the
// defender's shelter adjustment.
extern int32_t kingDangerWeight[2];
