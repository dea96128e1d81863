#include "eval/regular_eval.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "eval/eval_trace.h"
#include "eval/evaluate.h"
#include "eval/material.h"
#include "eval/pawn_eval.h"
#include "eval/regular_weights.h"

namespace {

constexpr float CLOSEDNESS[9] = {1.0f, 1.0f, 0.95f, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f, 0.4f};
constexpr int DAMPING[9] = {12, 10, 8, 6, 4, 2, 0, -2, -4};

// King-attack units per attacking piece by type, and per safe check.
constexpr int ATTACKER_UNITS[7] = {0, 0, 2, 2, 3, 5, 0};
constexpr int CHECK_UNITS[7] = {0, 0, 5, 3, 5, 4, 0};
constexpr int MOBILITY_MAX[7] = {0, 0, 8, 13, 14, 27, 0};

constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ULL;

// Index of a square in a 32-entry table folded on the d/e-file line, by the
// colour's own rank.
inline int foldedIndex(Color c, int s) {
    return relativeRank(c, s) * 4 + std::min(fileOf(s), 7 - fileOf(s));
}

inline Bitboard pawnAttackSet(Color c, Bitboard pawns) {
    Bitboard f = c == WHITE ? shiftNorth(pawns) : shiftSouth(pawns);
    return shiftEast(f) | shiftWest(f);
}

inline Bitboard forwardRanks(Color c, int rank) {
    if (c == WHITE) return rank >= 7 ? 0 : ~Bitboard(0) << (8 * (rank + 1));
    return rank <= 0 ? 0 : ~Bitboard(0) >> (8 * (8 - rank));
}

// Each colour's pair of piece terms and, when tracing, the weights counted.
struct PieceScorer {
    ScorePair pair[2] = {0, 0};
    EvalTrace* trace = nullptr;

    void add(Color c, int w, int count = 1) {
        pair[c] += count * RegularWeight[w];
        if (trace) [[unlikely]]
            trace->coef[w] = int16_t(trace->coef[w] + (c == WHITE ? count : -count));
    }
    void addValue(Color c, ScorePair v) { pair[c] += v; }
};

// Squares attacked by each colour, by piece type ([0] all) and twice over.
struct AttackMaps {
    Bitboard by[2][7] = {};
    Bitboard twice[2] = {0, 0};
    void note(Color c, PieceType t, Bitboard a) {
        twice[c] |= by[c][0] & a;
        by[c][0] |= a;
        by[c][t] |= a;
    }
};

// Mobility, placement and the king-attack tally of one colour's pieces.
void scorePieces(const Position& pos, Color c, AttackMaps& maps, PieceScorer& sc, int kingUnits[2],
                 int kingAttackers[2]) {
    Color them = ~c;
    Bitboard occ = pos.occupied;
    Bitboard ownPawns = pos.pieces[c][PAWN], enemyPawns = pos.pieces[them][PAWN];
    Bitboard allPawns = ownPawns | enemyPawns;
    Bitboard blocked = ownPawns & (c == WHITE ? shiftSouth(occ) : shiftNorth(occ));
    Bitboard lowRanks = c == WHITE ? (rankBB(1) | rankBB(2)) : (rankBB(5) | rankBB(6));
    Bitboard area =
        ~((ownPawns & (blocked | lowRanks)) | squareBB(pos.kingSquare[c]) | pawnAttackSet(them, enemyPawns));
    int enemyKing = pos.kingSquare[them];
    Bitboard enemyZone = KingAttacks[enemyKing] | squareBB(enemyKing);
    Bitboard ownPawnAttacks = pawnAttackSet(c, ownPawns);

    for (PieceType t : {KNIGHT, BISHOP, ROOK, QUEEN}) {
        for (Bitboard b = pos.pieces[c][t]; b;) {
            int s = popLsb(b);
            Bitboard a;
            if (t == KNIGHT)
                a = KnightAttacks[s];
            else if (t == BISHOP)
                a = bishopAttacks(s, occ ^ pos.pieces[c][QUEEN]);
            else if (t == ROOK)
                a = rookAttacks(s, occ ^ pos.pieces[c][QUEEN] ^ pos.pieces[c][ROOK]);
            else
                a = queenAttacks(s, occ);
            maps.note(c, t, a);

            int mobility = std::min(popcount(a & area), MOBILITY_MAX[t]);
            sc.add(c, W_MOBILITY + MOBILITY_OFFSET[t] + mobility);
            sc.add(c, W_PSQ + (t - KNIGHT) * 32 + foldedIndex(c, s));

            if (a & enemyZone) {
                kingAttackers[c]++;
                kingUnits[c] += ATTACKER_UNITS[t] + popcount(a & enemyZone);
            }

            int r = relativeRank(c, s), f = fileOf(s);
            int ahead = s + (c == WHITE ? 8 : -8);
            if (t == KNIGHT || t == BISHOP) {
                // An outpost: on the enemy's side, defended by a pawn, out of
                // reach of every enemy pawn.
                Bitboard span = (c == WHITE ? AdjacentFilesUp[s] : AdjacentFilesDown[s]) & ~rankBB(rankOf(s));
                if (r >= 3 && r <= 5 && (ownPawnAttacks & squareBB(s)) && !(enemyPawns & span))
                    sc.add(c, t == KNIGHT ? W_KNIGHT_OUTPOST : W_BISHOP_OUTPOST);
                if (ahead >= 0 && ahead < 64 && (allPawns & squareBB(ahead))) sc.add(c, W_MINOR_BEHIND_PAWN);
                if (t == BISHOP) {
                    Bitboard sameColour = (DARK_SQUARES & squareBB(s)) ? DARK_SQUARES : ~DARK_SQUARES;
                    sc.add(c, W_BAD_BISHOP, popcount(ownPawns & sameColour));
                }
            } else if (t == ROOK) {
                if (!(allPawns & fileBB(f)))
                    sc.add(c, W_ROOK_OPEN_FILE);
                else if (!(ownPawns & fileBB(f)))
                    sc.add(c, W_ROOK_SEMI_OPEN_FILE);
                if (r == 6 && (relativeRank(c, enemyKing) == 7 || (enemyPawns & rankBB(rankOf(s)))))
                    sc.add(c, W_ROOK_SEVENTH);
            }
        }
    }

    // The king: its square and, in the endgame, its distance to the pawns.
    int ksq = pos.kingSquare[c];
    sc.add(c, W_PSQ + 4 * 32 + foldedIndex(c, ksq));
    if (allPawns) {
        int nearest = 8;
        for (Bitboard b = allPawns; b;) nearest = std::min(nearest, squareDistance(ksq, popLsb(b)));
        sc.add(c, W_KING_PAWN_DISTANCE, nearest);
    }
}

// Threats against the other colour's pieces.
void scoreThreats(const Position& pos, Color c, const AttackMaps& maps, PieceScorer& sc) {
    Color them = ~c;
    Bitboard theirPieces = pos.pieces[them][KNIGHT] | pos.pieces[them][BISHOP] | pos.pieces[them][ROOK] |
                           pos.pieces[them][QUEEN];
    Bitboard minors = maps.by[c][KNIGHT] | maps.by[c][BISHOP];

    sc.add(c, W_THREAT_BY_PAWN, popcount(maps.by[c][PAWN] & theirPieces));
    sc.add(c, W_THREAT_MINOR_ON_ROOK, popcount(minors & pos.pieces[them][ROOK]));
    sc.add(c, W_THREAT_ON_QUEEN, popcount(minors & pos.pieces[them][QUEEN]));
    sc.add(c, W_THREAT_ROOK_ON_QUEEN, popcount(maps.by[c][ROOK] & pos.pieces[them][QUEEN]));
    sc.add(c, W_THREAT_HANGING, popcount(theirPieces & maps.by[c][0] & ~maps.by[them][0]));
    Bitboard undefended = (pos.pieces[them][0] & ~pos.pieces[them][KING]) & ~maps.by[them][0];
    sc.add(c, W_THREAT_BY_KING, popcount(undefended & maps.by[c][KING]));

    // A safe pawn push that would attack a piece.
    Bitboard ownPawns = pos.pieces[c][PAWN];
    Bitboard pushes = (c == WHITE ? shiftNorth(ownPawns) : shiftSouth(ownPawns)) & ~pos.occupied;
    pushes &= ~maps.by[them][PAWN] & (maps.by[c][0] | ~maps.by[them][0]);
    sc.add(c, W_THREAT_PAWN_PUSH, popcount(pawnAttackSet(c, pushes) & theirPieces));
}

// The attack on the other colour's king, through the king-danger table: the
// attackers' units, safe checks and weak squares by the attacking side's
// weight, less the defender's pawn shelter.
ScorePair kingDanger(const Position& pos, Color c, const AttackMaps& maps, int units, int attackers,
                     const PawnHashEntry& entry) {
    Color them = ~c;
    bool hasQueen = pos.pieces[c][QUEEN] != 0;
    if (attackers < 2 && !(hasQueen && attackers >= 1)) return 0;
    int ksq = pos.kingSquare[them];
    Bitboard occ = pos.occupied;
    Bitboard safe = ~maps.by[them][0] & ~pos.pieces[c][0];
    Bitboard bishopLines = bishopAttacks(ksq, occ), rookLines = rookAttacks(ksq, occ);
    if (KnightAttacks[ksq] & maps.by[c][KNIGHT] & safe) units += CHECK_UNITS[KNIGHT];
    if (bishopLines & maps.by[c][BISHOP] & safe) units += CHECK_UNITS[BISHOP];
    if (rookLines & maps.by[c][ROOK] & safe) units += CHECK_UNITS[ROOK];
    if ((bishopLines | rookLines) & maps.by[c][QUEEN] & safe) units += CHECK_UNITS[QUEEN];
    Bitboard zone = KingAttacks[ksq] | squareBB(ksq);
    units += popcount(zone & maps.by[c][0] & ~(maps.by[them][PAWN] | maps.twice[them]));
    if (!hasQueen) units /= 2;
    int weight = std::max(0, kingDangerWeight[c] - entry.shelterAdjust[them]);
    int x = std::clamp(units * weight / 3, 0, 511);
    return kingDangerTable[x];
}

// Passed pawns against the pieces: blocked, a free path, a safe stop square,
// a rook behind.
void scorePassers(const Position& pos, Color c, const AttackMaps& maps, const PawnHashEntry& entry,
                  PieceScorer& sc) {
    Color them = ~c;
    for (int i = 0; i < 8 && entry.passedSquares[c][i]; i++) {
        int s = entry.passedSquares[c][i];
        int r = relativeRank(c, s);
        int stop = s + (c == WHITE ? 8 : -8);
        if (pos.occupied & squareBB(stop)) sc.add(c, W_PASSED_BLOCKED + r);
        Bitboard path = fileBB(fileOf(s)) & forwardRanks(c, rankOf(s));
        if (!(pos.occupied & path)) sc.add(c, W_PASSED_FREE_PATH + r);
        if (!(maps.by[them][0] & squareBB(stop))) sc.add(c, W_PASSED_SAFE_STOP + r);
        Bitboard behind = fileBB(fileOf(s)) & ~path & ~squareBB(s);
        if (rookAttacks(s, pos.occupied) & behind & pos.pieces[c][ROOK]) sc.add(c, W_ROOK_BEHIND_PASSER);
    }
}

// The wrong rook's pawn: a lone bishop that does not cover the queening
// square of pawns all on one rook's file, with the defending king in front.
bool wrongBishop(const Position& pos, Color c) {
    Color them = ~c;
    Bitboard bishops = pos.pieces[c][BISHOP], pawns = pos.pieces[c][PAWN];
    if (!bishops || pos.pieces[c][KNIGHT] || !pawns) return false;
    bool dark = bishops & DARK_SQUARES, light = bishops & ~DARK_SQUARES;
    int k = pos.kingSquare[them];
    auto kingIn = [&](std::initializer_list<int> squares) {
        for (int s : squares)
            if (k == s) return true;
        return false;
    };
    if (c == WHITE) {
        if (dark && !light && !(pawns & ~fileBB(0)) && kingIn({A8, B8, A7, B7})) return true;
        if (light && !dark && !(pawns & ~fileBB(7)) && kingIn({G8, H8, G7, H7})) return true;
    } else {
        if (light && !dark && !(pawns & ~fileBB(0)) && kingIn({A1, B1, A2, B2})) return true;
        if (dark && !light && !(pawns & ~fileBB(7)) && kingIn({G1, H1, G2, H2})) return true;
    }
    return false;
}

// Steps 4 to 15 on an evaluation that was not a known result or a lazy exit.
Score fullEvaluation(Position& pos, int32_t material, float scale, EvalTrace* trace) {
    int ph = std::min<int>(pos.phase, 96);
    int stmSign = pos.sideToMove() == WHITE ? 1 : -1;

    // Step 4: the pawn structure and the piece terms of both colours.
    PawnHashEntry traceEntry;
    PawnHashEntry* entry = &traceEntry;
    ScorePair pawns = trace ? evaluatePawnsTraced(pos, traceEntry, trace) : evaluatePawns(pos, entry);
    const PawnHashEntry& e = *entry;

    AttackMaps maps;
    for (Color c : {WHITE, BLACK}) {
        maps.note(c, PAWN, pawnAttackSet(c, pos.pieces[c][PAWN]));
        maps.note(c, KING, KingAttacks[pos.kingSquare[c]]);
    }
    PieceScorer sc;
    sc.trace = trace;
    int kingUnits[2] = {0, 0}, kingAttackers[2] = {0, 0};
    scorePieces(pos, WHITE, maps, sc, kingUnits, kingAttackers);
    scorePieces(pos, BLACK, maps, sc, kingUnits, kingAttackers);
    for (Color c : {WHITE, BLACK}) {
        scoreThreats(pos, c, maps, sc);
        scorePassers(pos, c, maps, e, sc);
        sc.addValue(c, kingDanger(pos, c, maps, kingUnits[c], kingAttackers[c], e));
    }
    ScorePair pieces = sc.pair[WHITE] - sc.pair[BLACK] + pos.psqScore;

    AssemblyInputs in;
    in.material = material;
    in.scale = scale;
    in.phase = ph;
    in.stmSign = stmSign;
    in.closedness = e.closedness;
    in.fewFiles = e.fewFiles;
    in.noQueensNoPassers = !pos.pieces[WHITE][QUEEN] && !pos.pieces[BLACK][QUEEN] &&
                           !e.passedSquares[WHITE][0] && !e.passedSquares[BLACK][0];
    in.fileClass[WHITE] = e.fileClass[WHITE];
    in.fileClass[BLACK] = e.fileClass[BLACK];
    in.wrongBishop[WHITE] = wrongBishop(pos, WHITE);
    in.wrongBishop[BLACK] = wrongBishop(pos, BLACK);
    ScorePair late = 0;
    if (ph <= 17) {
        late = LatePhasePair[e.fileClass[WHITE]] - LatePhasePair[e.fileClass[BLACK]];
        if (trace) {
            trace->coef[W_LATE_CLASS + e.fileClass[WHITE]]++;
            trace->coef[W_LATE_CLASS + e.fileClass[BLACK]]--;
        }
    }
    if (trace) {
        trace->pieceRaw = pieces;
        trace->inputs = in;
        trace->fullEvaluation = true;
    }
    int32_t positional = 0;
    Score v = assembleRegular(in, pawns, pieces, late,
                              contemptPairByColor[WHITE].load(std::memory_order_relaxed), &positional);
    pos.cachedPositional = positional;
    return v;
}

}  // namespace

// Steps 5 to 15 of the assembly: dynamism, phase interpolation, the scale
// chain, rounding, wrong bishop, tempo, damping and the 88 % rule.
Score assembleRegular(const AssemblyInputs& in, ScorePair pawns, ScorePair pieces, ScorePair late,
                      ScorePair contempt, int32_t* positional) {
    int ph = in.phase;

    // Step 5: the dynamism factors scale the piece terms.
    ScorePair d = makeScorePair((dynamismFactorHigh * pairHigh(pieces)) / 128,
                                (dynamismFactorLow * pairLow(pieces)) / 128);

    // Steps 6 and 7: the total pair, interpolated by phase.
    ScorePair t = pawns + contempt + d + late;
    int32_t v = pairLow(t) * (96 - ph) + pairHigh(t) * ph;
    if (positional) *positional = v;
    return assembleFromPositional(in, v, contempt);
}

// Steps 8 to 15, from the phase-interpolated positional value v.
Score assembleFromPositional(const AssemblyInputs& in, int32_t v, ScorePair contempt) {
    int ph = in.phase;

    // Steps 8 and 9: the material scale, less in quiet endgames.
    float s = in.scale;
    if (in.noQueensNoPassers) s *= 0.9f;
    int32_t scaled = int32_t(float(v) * s);
    if (in.fewFiles) scaled = int32_t(float(scaled) * 0.9f);

    // Step 10: blocked positions are harder to win.
    int32_t w = int32_t(float(scaled + in.material) * CLOSEDNESS[in.closedness]);

    // Step 11: to tenths, rounded half away from zero; the contempt of a
    // blocked position.
    int32_t x = w >= 0 ? (w + 48) / 96 : -((48 - w) / 96);
    x += (in.closedness * in.closedness * pairHigh(contempt)) / 80;

    // Step 12: the wrong bishop caps the score of a rook's-pawn ending.
    if (ph >= 4 && ph <= 8) {
        if (x >= 31 && in.wrongBishop[WHITE]) x = 30;
        if (x <= -31 && in.wrongBishop[BLACK]) x = -30;
    }

    // Step 13: tempo, to Score units.
    int32_t r = in.stmSign > 0 ? (x + TempoByPhase[ph]) / 10 : (x - TempoByPhase[ph]) / 10;

    // Step 14: damping by the leading side's pawn files.
    if (r != 0) {
        int c = r > 0 ? std::min(r, 150) : std::max(r, -150);
        int cls = r > 0 ? in.fileClass[WHITE] : in.fileClass[BLACK];
        r -= (c * (96 - ph) * DAMPING[cls]) / 12288;
    }

    // Step 15: the side to move's view, at 88 % with balanced material.
    Score result = in.stmSign * r;
    if (std::abs(in.material) < 19200) result = (result * 88) / 100;
    return result;
}

Score regularEvaluate(Position& pos, Score alpha, Score beta, uint8_t* lazy) {
    // Step 1: material.
    float scale = 0.0f;
    int32_t m = evaluateMaterial(pos, &scale);
    if (lazy) *lazy = 0;
    int ph = std::min<int>(pos.phase, 96);
    int stmSign = pos.sideToMove() == WHITE ? 1 : -1;

    // Step 2: a known result by material: only the contempt remains.
    if (scale == 0.0f) {
        ScorePair c = contemptPairByColor[WHITE].load(std::memory_order_relaxed);
        return stmSign * (m + pairLow(c) * (96 - ph) + pairHigh(c) * ph) / 960;
    }

    // Step 3: the lazy exit on the last full evaluation's positional value,
    // unless a pawn is about to promote.
    bool promotionNear = (pos.pieces[WHITE][PAWN] & rankBB(6)) || (pos.pieces[BLACK][PAWN] & rankBB(1));
    if (!promotionNear) {
        int32_t a = (int32_t(scale * float(pos.cachedPositional)) + m) / 960;
        if (std::abs(m) < 19200) a = (a * 88) / 100;
        a *= stmSign;
        if (ph > 6 && (a < alpha || a > beta)) {
            if (lazy) *lazy = 1;
            return a;
        }
    }
    return fullEvaluation(pos, m, scale, nullptr);
}

bool traceRegularEvaluate(Position& pos, EvalTrace& trace, Score* value) {
    trace = EvalTrace{};
    float scale = 0.0f;
    int32_t m = evaluateMaterial(pos, &scale);
    if (scale == 0.0f) return false;
    *value = fullEvaluation(pos, m, scale, &trace);
    return true;
}
