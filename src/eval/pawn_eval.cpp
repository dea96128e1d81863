#include "eval/pawn_eval.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "board/bitboard.h"
#include "board/position.h"
#include "eval/eval_trace.h"
#include "eval/regular_weights.h"

int squareDistance(int a, int b) {
    return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b)));
}

namespace {

constexpr Bitboard FILE_H_BB = fileBB(7);
constexpr Bitboard CENTRE_BLOCK =
    (fileBB(2) | fileBB(3) | fileBB(4) | fileBB(5)) & (rankBB(2) | rankBB(3) | rankBB(4) | rankBB(5));

inline Bitboard pawnAttackSet(Color c, Bitboard pawns) {
    Bitboard f = c == WHITE ? shiftNorth(pawns) : shiftSouth(pawns);
    return shiftEast(f) | shiftWest(f);
}

// Bit f set when the set has a square on file f.
inline int fileByte(Bitboard b) {
    b |= b >> 32;
    b |= b >> 16;
    b |= b >> 8;
    return int(b & 0xFF);
}

inline Bitboard ranksAbove(int rank) {
    return rank >= 7 ? 0 : ~Bitboard(0) << (8 * (rank + 1));
}
inline Bitboard ranksBelow(int rank) {
    return rank <= 0 ? 0 : ~Bitboard(0) >> (8 * (8 - rank));
}
// The squares ahead of a rank for colour c (towards the enemy's back rank).
inline Bitboard aheadOf(Color c, int rank) {
    return c == WHITE ? ranksAbove(rank) : ranksBelow(rank);
}
inline Bitboard behindOf(Color c, int rank) {
    return c == WHITE ? ranksBelow(rank) : ranksAbove(rank);
}
inline Bitboard adjacentFiles(int file) {
    return (file > 0 ? fileBB(file - 1) : 0) | (file < 7 ? fileBB(file + 1) : 0);
}

// Accumulates each colour's pair and, when tracing, the weights counted.
struct PawnScorer {
    ScorePair pair[2] = {0, 0};
    EvalTrace* trace = nullptr;

    void add(Color c, ScorePair value) { pair[c] += value; }
    // value = count * weight w (or a table entry equal to it).
    void add(Color c, ScorePair value, int w, int count) {
        pair[c] += value;
        if (trace) trace->coef[w] = int16_t(trace->coef[w] + (c == WHITE ? count : -count));
    }
};

// A shelter value with the weights it counted, so that only the zone that is
// chosen enters the trace.
struct ShelterValue {
    ScorePair value = 0;
    int count = 0;
    int16_t weight[40];
    int8_t times[40];
    void add(ScorePair v, int w, int n) {
        value += v;
        if (count < 40) weight[count] = int16_t(w), times[count++] = int8_t(n);
    }
};

// Storm pair of one enemy pawn: unopposed, blocked or opposed by rank.
inline void addStorm(ShelterValue& out, bool opposedByAny, bool blocked, int r) {
    const PawnWeightTables& t = PawnWeights;
    if (!opposedByAny)
        out.add(t.stormUnopposed[r], W_PAWN_STORM_UNOPPOSED + r, 1);
    else if (blocked)
        out.add(t.stormBlocked[r], W_PAWN_STORM_BLOCKED + r, 1);
    else
        out.add(t.stormOpposed[r], W_PAWN_STORM_OPPOSED + r, 1);
}

// Shelter and storm of the king of colour us in the zone of three files
// around its file; `castled` computes the king-side zone of a king that may
// still castle instead.
ShelterValue shelterOf(const Position& pos, Color us, bool castled) {
    const PawnWeightTables& t = PawnWeights;
    Color them = ~us;
    Bitboard own = pos.pieces[us][PAWN], enemy = pos.pieces[them][PAWN];
    int ksq = pos.kingSquare[us];
    int middle = castled ? 6 : std::clamp(fileOf(ksq), 1, 6);
    Bitboard zone = fileBB(middle - 1) | fileBB(middle) | fileBB(middle + 1);
    int kingRank = castled ? (us == WHITE ? 0 : 7) : rankOf(ksq);
    ShelterValue out;

    // Own pawns in front of the king (the whole wing for the castled zone),
    // the middle file counting twice.
    Bitboard shield = own & zone;
    if (!castled) shield &= rankBB(kingRank) | aheadOf(us, kingRank);
    for (Bitboard b = shield; b;) {
        int s = popLsb(b);
        int r = relativeRank(us, s);
        int times = fileOf(s) == middle ? 2 : 1;
        out.add(times * t.shelter[r], W_PAWN_SHELTER + r, times);
    }

    // Enemy pawns storming the zone, except the one that blocks the square in
    // front of the king.
    int front = castled ? (us == WHITE ? G1 + 8 : G8 - 8) : ksq + (us == WHITE ? 8 : -8);
    Bitboard storm = enemy & zone;
    if (front >= 0 && front < 64) storm &= ~squareBB(front);
    for (Bitboard b = storm; b;) {
        int s = popLsb(b);
        int r = relativeRank(them, s);
        bool blocked = own & squareBB(s + (us == WHITE ? -8 : 8));
        // Our own zone: any of our pawns in the zone below the enemy pawn's
        // rank; the castled zone: our pawns on its file below it.
        Bitboard below = us == WHITE ? ranksBelow(rankOf(s)) : ranksAbove(rankOf(s));
        Bitboard opposers = castled ? own & fileBB(fileOf(s)) & below : own & zone & below;
        addStorm(out, opposers != 0, blocked, r);
    }
    int stormFiles = __builtin_popcount(unsigned(fileByte(enemy & zone)));
    stormFiles = std::min(stormFiles, 3);
    out.add(t.stormFiles[stormFiles], W_PAWN_STORM_FILES + stormFiles, 1);
    return out;
}

}  // namespace

// Step by step as the entry's fields are laid out: the bytes first, then each
// colour's terms, then the kings' shelter.
ScorePair evaluatePawnsTraced(const Position& pos, PawnHashEntry& e, EvalTrace* trace) {
    const PawnWeightTables& t = PawnWeights;
    Bitboard W = pos.pieces[WHITE][PAWN], B = pos.pieces[BLACK][PAWN];
    Bitboard all = W | B;

    // Step 1: a fresh entry.
    std::memset(e.passedSquares, 0, sizeof(e.passedSquares));
    e.key = pos.pawnKey;
    e.shelterAdjust[WHITE] = e.shelterAdjust[BLACK] = 0;

    // Step 2: the entry bytes.
    int wkf = fileOf(pos.kingSquare[WHITE]), bkf = fileOf(pos.kingSquare[BLACK]);
    e.kingPlacement = (wkf >= 4 && bkf >= 4) ? 1 : (wkf <= 3 && bkf <= 3) ? 2 : 0;
    int allFiles = fileByte(all);
    e.openFiles = uint8_t(8 - __builtin_popcount(unsigned(allFiles)));
    e.fileClass[WHITE] = pawnFileClass[fileByte(W)];
    e.fileClass[BLACK] = pawnFileClass[fileByte(B)];
    e.closedness = int8_t(popcount(shiftNorth(W) & B));
    int few = 0;
    for (int f = 0; f < 8; f++) {
        Bitboard file = fileBB(f);
        if (!(W & file) && !(B & file & ~rankBB(6))) few++;
        if (!(B & file) && !(W & file & ~rankBB(1))) few++;
    }
    e.fewFiles = few <= 1;
    e.unused41 = 0;

    PawnScorer sc;
    sc.trace = trace;
    Bitboard attacks[2] = {pawnAttackSet(WHITE, W), pawnAttackSet(BLACK, B)};

    // Step 3: pawns under attack.
    {
        int n = popcount(W & (rankBB(4) | rankBB(5)) & attacks[BLACK]);
        sc.add(WHITE, t.advancedAttacked[n], W_PAWN_ADVANCED_ATTACKED, n);
        int m = popcount(W & pawnAttackSet(BLACK, B & shiftNorth(all)));
        sc.add(WHITE, t.attackedByBlocked[m], W_PAWN_ATTACKED_BY_BLOCKED, m);
        n = popcount(B & (rankBB(2) | rankBB(3)) & attacks[WHITE]);
        sc.add(BLACK, t.advancedAttacked[n], W_PAWN_ADVANCED_ATTACKED, n);
        m = popcount(B & pawnAttackSet(WHITE, W & shiftSouth(all)));
        sc.add(BLACK, t.attackedByBlocked[m], W_PAWN_ATTACKED_BY_BLOCKED, m);
    }

    // Step 4: the kings' distance from the pawns' centre of gravity.
    if (all) {
        int sum = 0;
        for (Bitboard b = all; b;) sum += fileOf(popLsb(b));
        int centre = sum / popcount(all);
        for (Color c : {WHITE, BLACK}) {
            int d = std::abs(centre - fileOf(pos.kingSquare[c]));
            sc.add(c, -t.kingCentreDistance[d], W_PAWN_KING_CENTRE_DISTANCE, -d);
        }
    }

    // Step 5: each colour's structure.
    for (Color c : {WHITE, BLACK}) {
        Color them = ~c;
        Bitboard P = pos.pieces[c][PAWN], E = pos.pieces[them][PAWN];
        Bitboard ownAttacks = attacks[c], enemyAttacks = attacks[them];
        int push = c == WHITE ? 8 : -8;
        int ownKing = pos.kingSquare[c], enemyKing = pos.kingSquare[them];
        int ownFiles = fileByte(P);

        // Pawn-square table (part of the structure, so cached with it).
        for (Bitboard b = P; b;) {
            int s = popLsb(b);
            int r = relativeRank(c, s);
            sc.add(c, t.pawnPsq[c][s], W_PAWN_PSQ + r * 4 + std::min(fileOf(s), 7 - fileOf(s)), 1);
        }

        // Doubled pawns, and the undefended rear pawn of a doubled file.
        int extra = popcount(P) - __builtin_popcount(unsigned(ownFiles));
        sc.add(c, t.doubledCount[extra], W_PAWN_DOUBLED, extra);
        Bitboard rearDoubled = 0;
        for (Bitboard b = P; b;) {
            int s = popLsb(b);
            Bitboard file = fileBB(fileOf(s));
            if (popcount(P & file) >= 2 && !(P & file & behindOf(c, rankOf(s)))) rearDoubled |= squareBB(s);
        }
        for (Bitboard b = rearDoubled & ~ownAttacks; b; b &= b - 1) sc.add(c, makeScorePair(-36, -50));

        // Squares the pawns control, outside and inside the centre block.
        int outside = popcount(ownAttacks & ~CENTRE_BLOCK), centre = popcount(ownAttacks & CENTRE_BLOCK);
        sc.add(c, t.controlOutside[outside], W_PAWN_CONTROL_OUTSIDE, outside);
        sc.add(c, t.controlCentre[centre]);

        // Isolated pawns, split by edge or inner file and by an enemy pawn on
        // the file; the same split again for isolated rear pawns of doubled files.
        Bitboard isolated = 0;
        for (Bitboard b = P; b;) {
            int s = popLsb(b);
            if (!(P & adjacentFiles(fileOf(s)))) isolated |= squareBB(s);
        }
        int isoCount[4] = {0, 0, 0, 0}, dblIsoCount[4] = {0, 0, 0, 0};
        for (Bitboard b = isolated; b;) {
            int s = popLsb(b);
            int f = fileOf(s);
            int kind = ((f == 0 || f == 7) ? 0 : 2) + ((E & fileBB(f)) ? 0 : 1);
            isoCount[kind]++;
            if (rearDoubled & squareBB(s)) dblIsoCount[kind]++;
        }
        for (int k = 0; k < 4; k++) {
            sc.add(c, t.isolated[k][isoCount[k]], W_PAWN_ISOLATED + k, isoCount[k]);
            sc.add(c, t.doubledIsolated[k][dblIsoCount[k]], W_PAWN_DOUBLED_ISOLATED + k, dblIsoCount[k]);
        }

        // Connected pawns: beside an own pawn or defended by one.
        Bitboard beside = shiftEast(P) | shiftWest(P);
        Bitboard connected = P & (beside | ownAttacks);
        for (Bitboard b = connected; b;) {
            int s = popLsb(b);
            int r = relativeRank(c, s);
            bool phalanx = beside & squareBB(s);
            int diag = s - push - 1;  // diagonally behind, towards the a-file
            bool behindLeft = fileOf(s) > 0 && diag >= 0 && diag < 64 && (P & squareBB(diag));
            int v = (2 - (phalanx ? 0 : 1) + 2 * (behindLeft ? 1 : 0)) * t.connectedWeight[r];
            sc.add(c, makeScorePair(v, v / 2));
        }

        // A lone phalanx pair on its own half of a file the enemy has left.
        for (Bitboard b = P; b;) {
            int s = popLsb(b);
            int r = relativeRank(c, s), f = fileOf(s);
            if (r > 3 || (E & fileBB(f))) continue;
            Bitboard neighbours = P & adjacentFiles(f) & rankBB(rankOf(s));
            if (popcount(neighbours) != 1) continue;
            int ahead2 = s + 2 * push;
            bool pressed = ahead2 >= 0 && ahead2 < 64 && (E & adjacentFiles(f) & rankBB(rankOf(ahead2)));
            sc.add(c, pressed ? makeScorePair(-2, -50) : makeScorePair(-1, -25));
        }

        // Backward pawns: not isolated, not connected, and no own pawn can
        // ever come to defend them; scored by their stop squares.
        Bitboard backwardStops = 0;
        for (Bitboard b = P & ~isolated; b;) {
            int s = popLsb(b);
            bool isConnected = connected & squareBB(s);
            bool exception = isConnected && (rearDoubled & squareBB(s)) && !(ownAttacks & squareBB(s));
            if (isConnected && !exception) continue;
            Bitboard fileBehind = fileBB(fileOf(s)) & (behindOf(c, rankOf(s)) | squareBB(s));
            if (ownAttacks & fileBehind) continue;
            int stop = s + push;
            if (stop >= 0 && stop < 64) backwardStops |= squareBB(stop);
        }
        Bitboard edge = fileBB(0) | FILE_H_BB;
        Bitboard weakStops = backwardStops & (all | enemyAttacks);
        int edgeCount = popcount(weakStops & edge), innerCount = popcount(weakStops & ~edge);
        int openCount = 0;
        for (Bitboard b = backwardStops & enemyAttacks; b;) {
            int s = popLsb(b);
            if (!(all & fileBB(fileOf(s)) & aheadOf(c, rankOf(s)))) openCount++;
        }
        sc.add(c, t.backward[0][edgeCount], W_PAWN_BACKWARD + 0, edgeCount);
        sc.add(c, t.backward[1][innerCount], W_PAWN_BACKWARD + 1, innerCount);
        sc.add(c, t.backward[2][openCount], W_PAWN_BACKWARD + 2, openCount);

        // Pawns on their start square that cannot step forward safely.
        Bitboard start = P & SecondRank[c];
        Bitboard stepped = c == WHITE ? shiftNorth(start) : shiftSouth(start);
        int pushAttacked = popcount(stepped & enemyAttacks);
        sc.add(c, t.pushAttacked[pushAttacked], W_PAWN_PUSH_ATTACKED, pushAttacked);

        // Passed pawns and candidates.
        int passedCount = 0, passedRanks = 0;
        for (Bitboard b = P; b;) {
            int s = popLsb(b);
            int f = fileOf(s), r = relativeRank(c, s);
            Bitboard ahead = aheadOf(c, rankOf(s));
            Bitboard fileAhead = fileBB(f) & ahead;
            bool passed = !(E & (fileAhead | (adjacentFiles(f) & ahead))) && !(P & fileAhead);
            int aheadSq = s + push;
            if (passed) {
                e.passedSquares[c][passedCount] = uint8_t(s);
                passedCount++;
                passedRanks += r;
                if ((beside | ownAttacks) & squareBB(s))
                    sc.add(c, t.passedSupported[c][s], W_PASSED_SUPPORTED + r, 1);
                sc.add(c, t.passedFile[f], W_PAWN_PASSED_FILE + std::min(f, 7 - f), 1);
                if (r > 2) {
                    int own = squareDistance(ownKing, aheadSq), enemy = squareDistance(enemyKing, aheadSq);
                    sc.add(c, t.passedOwnKing[r][own], W_PASSED_RANK + r, 1);
                    sc.add(c, 0, W_PASSED_OWN_KING + r, own);  // counted in the entry above
                    sc.add(c, t.passedEnemyKing[r][enemy], W_PASSED_ENEMY_KING + r, enemy);
                    int promotion = makeSquare(f, c == WHITE ? 7 : 0);
                    if (squareDistance(ownKing, promotion) <= 1) sc.add(c, makeScorePair(0, 129));
                    if (squareDistance(enemyKing, promotion) <= 1) sc.add(them, makeScorePair(0, 129));
                }
                continue;
            }
            if (popcount(P & fileBB(f)) != 1 || (E & fileAhead)) continue;
            // Candidate: the enemy pawns that can stop it on the neighbouring
            // files ahead are no more than the neighbouring files where no
            // enemy pawn stands right beside it.
            Bitboard span = (c == WHITE ? AdjacentFilesUp[s] : AdjacentFilesDown[s]) & ~rankBB(rankOf(s));
            int stoppers = popcount(E & span);
            int free = 0;
            if (f > 0 && !(E & squareBB(s - 1))) free++;
            if (f < 7 && !(E & squareBB(s + 1))) free++;
            if (stoppers > free) continue;
            sc.add(c, t.candidate[c][s], W_CANDIDATE + r, 1);
            if (r > 2) {
                int own = squareDistance(ownKing, aheadSq), enemy = squareDistance(enemyKing, aheadSq);
                sc.add(c, t.candidateOwnKing[r - 1][own], W_CANDIDATE_OWN_KING + r - 1, own);
                sc.add(c, t.candidateEnemyKing[r - 1][enemy], W_CANDIDATE_ENEMY_KING + r - 1, enemy);
            }
        }
        if (passedCount >= 2) sc.add(c, makeScorePair(6 * passedRanks, 24 * passedRanks));
    }

    // Step 6: each king's shelter, or the king-side zone while it can castle
    // there and that zone is better.
    for (Color c : {WHITE, BLACK}) {
        ShelterValue current = shelterOf(pos, c, false);
        const ShelterValue* chosen = &current;
        ShelterValue castled;
        bool canCastleShort = !(pos.castleLost & (c == WHITE ? 1 : 4));
        if (canCastleShort) {
            castled = shelterOf(pos, c, true);
            if (pairHigh(castled.value) > pairHigh(current.value)) chosen = &castled;
        }
        sc.add(c, chosen->value);
        if (trace)
            for (int i = 0; i < chosen->count; i++)
                trace->coef[chosen->weight[i]] = int16_t(trace->coef[chosen->weight[i]] +
                                                         (c == WHITE ? chosen->times[i] : -chosen->times[i]));

        int ksq = pos.kingSquare[c];
        int middle = std::clamp(fileOf(ksq), 1, 6);
        Bitboard zone = fileBB(middle - 1) | fileBB(middle) | fileBB(middle + 1);
        Bitboard near = c == WHITE ? (rankBB(2) | rankBB(3)) : (rankBB(4) | rankBB(5));
        int stormers = popcount(pos.pieces[~c][PAWN] & zone & near);
        e.shelterAdjust[c] = int16_t(pairHigh(current.value) / 120 - 3 * stormers);

        // A king shut in on its back rank by its own pawns, and a king with no
        // pawn at all on its wing.
        int f = fileOf(ksq);
        if (relativeRank(c, ksq) == 0) {
            Bitboard front = (c == WHITE ? shiftNorth(squareBB(ksq)) : shiftSouth(squareBB(ksq)));
            front |= shiftEast(front) | shiftWest(front);
            if ((front & pos.pieces[c][PAWN]) == front) sc.add(c, makeScorePair(-63, -173));
        }
        Bitboard wing = f <= 2   ? (fileBB(0) | fileBB(1) | fileBB(2) | fileBB(3))
                        : f <= 4 ? (fileBB(2) | fileBB(3) | fileBB(4) | fileBB(5))
                                 : (fileBB(4) | fileBB(5) | fileBB(6) | fileBB(7));
        if (!(all & wing)) sc.add(c, makeScorePair(-50, -200));
    }

    // Step 7: White minus Black, each half at 97 %.
    ScorePair d = sc.pair[WHITE] - sc.pair[BLACK];
    if (trace) trace->pawnRaw = d;
    e.score = makeScorePair(pairHigh(d) * 97 / 100, pairLow(d) * 97 / 100);
    return e.score;
}

ScorePair evaluatePawns(const Position& pos, PawnHashEntry*& entry) {
    PawnHashEntry& e = pos.pawnTable->entries[pos.pawnKey & pawnHashMask];
    entry = &e;
    pos.pawnTable->probes++;
    if (e.key == pos.pawnKey) {
        pos.pawnTable->hits++;
        return e.score;
    }
    return evaluatePawnsTraced(pos, e, nullptr);
}
