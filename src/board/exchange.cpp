// Static exchange tests: the two sides take turns recapturing on the
// destination square with their least valuable attacker, and the test stops as
// soon as the outcome is certain.
#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/sliding_attacks.h"

namespace {

using ValueTable = int[7];

constexpr ValueTable SeeBadValues = {0, 1, 4, 4, 6, 12, 999};
constexpr ValueTable SeeBelowValues = {0, 100, 370, 400, 550, 1200, 999999};
constexpr ValueTable SeeBadFineValues = {0, 2, 7, 8, 11, 22, 999};
constexpr ValueTable SquareUnsafeValues = {0, 1, 3, 3, 5, 9, 999};

// Whether the piece of colour c on `from` may not take on d because it shields
// its own king from an enemy slider, given the pieces still in `occ`. Taking
// on d keeps the king covered when d lies on the pin line (the pinner included).
bool isPinned(const Position& pos, Color c, Square from, Square d, Bitboard occ) {
    Square king = pos.kingSquare[c];
    if (!(QueenRays[king] & squareBB(from))) return false;
    Bitboard without = occ ^ squareBB(from);
    Bitboard enemies = pos.pieces[~c][0] & occ;
    Bitboard diagonal = (pos.pieces[~c][BISHOP] | pos.pieces[~c][QUEEN]) & enemies;
    Bitboard straight = (pos.pieces[~c][ROOK] | pos.pieces[~c][QUEEN]) & enemies;
    Bitboard pinners = 0;
    if (BishopRays[king] & squareBB(from)) pinners |= bishopAttacks(king, without) & diagonal;
    if (RookRays[king] & squareBB(from)) pinners |= rookAttacks(king, without) & straight;
    while (pinners) {
        Square pinner = popLsb(pinners);
        // Only a pinner on the line through `from` counts.
        if (!(Between[king][pinner] & squareBB(from))) continue;
        if (d != pinner && !(Between[king][pinner] & squareBB(d))) return true;
    }
    return false;
}

// The least valuable usable attacker of d of colour c, or SQ_NONE.
Square leastValuableAttacker(const Position& pos, Color c, Square d, Bitboard occ, bool excludePinned,
                             PieceType& type) {
    Bitboard attackers = attackersTo(pos, d, occ) & pos.pieces[c][0] & occ;
    if (!attackers) return SQ_NONE;
    for (int t = PAWN; t <= KING; t++) {
        for (Bitboard b = attackers & pos.pieces[c][t]; b;) {
            Square s = popLsb(b);
            if (excludePinned && t != KING && isPinned(pos, c, s, d, occ)) continue;
            type = PieceType(t);
            return s;
        }
    }
    return SQ_NONE;
}

bool hasUsableAttacker(const Position& pos, Color c, Square d, Bitboard occ, bool excludePinned) {
    PieceType unused;
    return leastValuableAttacker(pos, c, d, occ, excludePinned, unused) != SQ_NONE;
}

// The shared exchange loop. `balance` is what the mover has won so far;
// `quiet` starts with the opponent's turn and counts pinned attackers too.
bool exchangeIsBad(const Position& pos, Move m, const ValueTable& value, int balance, bool quiet) {
    if (moveKind(m) == CASTLING) return false;
    Color us = pos.sideToMove(), them = ~us;
    Square from = moveFrom(m), d = moveTo(m);
    PieceType onSquare = typeOf(pos.board[from]);
    Bitboard occ = (pos.occupied ^ squareBB(from)) | squareBB(d);

    if (onSquare == KING) return (attackersTo(pos, d, occ) & pos.pieces[them][0]) != 0;

    bool excludePinned = !quiet;
    if (!quiet) {
        if (balance >= value[onSquare]) return false;
        if (balance < 0) return true;
    }
    while (true) {
        // The opponent recaptures.
        PieceType type;
        Square attacker = leastValuableAttacker(pos, them, d, occ, excludePinned, type);
        if (attacker == SQ_NONE) return false;
        if (type == KING && hasUsableAttacker(pos, us, d, occ, excludePinned)) return false;
        balance -= value[onSquare];
        if (balance < -value[type]) return true;
        occ ^= squareBB(attacker);
        onSquare = type;
        if (balance >= 0) return false;

        // The mover recaptures.
        attacker = leastValuableAttacker(pos, us, d, occ, excludePinned, type);
        if (attacker == SQ_NONE) return true;
        if (type == KING && hasUsableAttacker(pos, them, d, occ, excludePinned)) return true;
        balance += value[onSquare];
        occ ^= squareBB(attacker);
        onSquare = type;
        if (balance < 0) return true;
    }
}

// What the move takes: a pawn for en passant, nothing for a quiet move.
PieceType capturedBy(const Position& pos, Move m) {
    if (moveKind(m) == EN_PASSANT) return PAWN;
    if (moveKind(m) == CASTLING) return NO_PIECE_TYPE;
    return typeOf(pos.board[moveTo(m)]);
}

}  // namespace

bool seeBad(const Position& pos, Move m) {
    return exchangeIsBad(pos, m, SeeBadValues, SeeBadValues[capturedBy(pos, m)], false);
}

bool seeBelow(const Position& pos, Move m, int margin) {
    return exchangeIsBad(pos, m, SeeBelowValues, margin + SeeBelowValues[capturedBy(pos, m)], false);
}

bool seeBadFine(const Position& pos, Move m) {
    return exchangeIsBad(pos, m, SeeBadFineValues, SeeBadFineValues[capturedBy(pos, m)], false);
}

bool squareUnsafe(const Position& pos, Move m) {
    return exchangeIsBad(pos, m, SquareUnsafeValues, 0, true);
}
