#include "eval/kpk_bitbase.h"

#include "board/bitboard.h"

namespace {

// Pawns on files a-d and ranks 2-7; pawns on files e-h are mirrored onto them.
constexpr int PAWN_SLOTS = 24;

// KpkWins[side to move][pawn slot][white king] = the black-king squares from
// which White wins. Bitboards per white-king square let one pass of the
// retrograde analysis handle all 64 black-king squares at once.
Bitboard KpkWins[2][PAWN_SLOTS][64];

// Slot of a pawn on files a-d, ranks 2-7.
constexpr int pawnSlot(Square pawn) {
    return (rankOf(pawn) - 1) * 4 + fileOf(pawn);
}

// Every square a king on some square of `kings` attacks.
constexpr Bitboard kingAttacksOfSet(Bitboard kings) {
    Bitboard sideways = shiftEast(kings) | shiftWest(kings);
    Bitboard row = kings | sideways;
    return sideways | shiftNorth(row) | shiftSouth(row);
}

// Squares a rook (or, with diagonals, a queen) on `from` attacks when only
// `blocker` stands in the way. The black king is left out on purpose: it
// cannot hide behind itself along a line of attack.
Bitboard lineAttacks(Square from, Square blocker, bool diagonals) {
    constexpr int steps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    Bitboard attacks = 0;
    for (int d = 0; d < (diagonals ? 8 : 4); d++) {
        int f = fileOf(from) + steps[d][0], r = rankOf(from) + steps[d][1];
        for (; f >= 0 && f < 8 && r >= 0 && r < 8; f += steps[d][0], r += steps[d][1]) {
            Square s = makeSquare(f, r);
            attacks |= squareBB(s);
            if (s == blocker) break;
        }
    }
    return attacks;
}

// Black-king squares from which White, to move with the pawn on the 7th rank,
// wins by promoting: the new piece must not hang, and a queen or a rook must
// leave Black a move or give check (otherwise it is stalemate). A safe queen
// or rook against a bare king always wins.
Bitboard promotionWins(Square whiteKing, Square pawn) {
    Square queening = pawn + 8;
    if (whiteKing == queening) return 0;
    Bitboard queenAttacks = lineAttacks(queening, whiteKing, true);
    Bitboard rookAttacks = lineAttacks(queening, whiteKing, false);
    Bitboard wins = 0;
    for (Square blackKing = 0; blackKing < 64; blackKing++) {
        if (blackKing == queening || blackKing == whiteKing || blackKing == pawn) continue;
        if (KingAttacks[whiteKing] & squareBB(blackKing)) continue;
        bool defended = KingAttacks[whiteKing] & squareBB(queening);
        bool hanging = (KingAttacks[blackKing] & squareBB(queening)) && !defended;
        if (hanging) continue;
        for (Bitboard attacks : {queenAttacks, rookAttacks}) {
            bool check = attacks & squareBB(blackKing);
            Bitboard escapes = KingAttacks[blackKing] & ~attacks & ~KingAttacks[whiteKing];
            if (check || escapes) {
                wins |= squareBB(blackKing);
                break;
            }
        }
    }
    return wins;
}

// Solves one pawn square, given that every square further up is solved.
// White-to-move wins that need no king move (pushes into solved positions and
// promotions) are fixed first; then the two sides' tables are alternately
// grown until nothing changes.
void solvePawnSquare(Square pawn) {
    const int slot = pawnSlot(pawn);
    const Bitboard pawnBB = squareBB(pawn);
    const Bitboard pawnChecks = PawnAttacks[WHITE][pawn];
    Bitboard* whiteToMove = KpkWins[WHITE][slot];
    Bitboard* blackToMove = KpkWins[BLACK][slot];

    Bitboard legalWhiteToMove[64], legalBlackToMove[64], fixedWins[64];
    for (Square wk = 0; wk < 64; wk++) {
        Bitboard kingZone = squareBB(wk) | KingAttacks[wk] | pawnBB;
        legalBlackToMove[wk] = wk == pawn ? 0 : ~kingZone;
        legalWhiteToMove[wk] = wk == pawn ? 0 : ~(kingZone | pawnChecks);
        fixedWins[wk] = 0;
        if (wk == pawn) continue;
        Square push = pawn + 8;
        if (rankOf(pawn) == 6) {
            fixedWins[wk] = promotionWins(wk, pawn);
        } else if (wk != push) {
            fixedWins[wk] = KpkWins[BLACK][pawnSlot(push)][wk] & ~squareBB(push);
            Square doublePush = pawn + 16;
            if (rankOf(pawn) == 1 && wk != doublePush)
                fixedWins[wk] |=
                    KpkWins[BLACK][pawnSlot(doublePush)][wk] & ~squareBB(push) & ~squareBB(doublePush);
        }
        fixedWins[wk] &= legalWhiteToMove[wk];
        whiteToMove[wk] = fixedWins[wk];
        blackToMove[wk] = 0;
    }

    for (bool changed = true; changed;) {
        changed = false;
        // Black to move loses when every king move (taking an undefended pawn
        // included) reaches a White win and a move exists or Black is in check.
        for (Square wk = 0; wk < 64; wk++) {
            if (wk == pawn) continue;
            Bitboard moves = ~(squareBB(wk) | KingAttacks[wk] | pawnChecks);
            Bitboard escapes = moves & ~whiteToMove[wk];
            blackToMove[wk] =
                legalBlackToMove[wk] & ~kingAttacksOfSet(escapes) & (kingAttacksOfSet(moves) | pawnChecks);
        }
        // White to move wins when some king move reaches a Black loss.
        for (Square wk = 0; wk < 64; wk++) {
            if (wk == pawn) continue;
            Bitboard wins = fixedWins[wk];
            for (Bitboard to = KingAttacks[wk] & ~pawnBB; to;) wins |= blackToMove[popLsb(to)];
            wins &= legalWhiteToMove[wk];
            if (wins != whiteToMove[wk]) {
                whiteToMove[wk] = wins;
                changed = true;
            }
        }
    }
}

}  // namespace

// Pawn squares are solved from the 7th rank down, so that every pawn push
// leads into a square that is already solved.
void buildKpkBitbase() {
    for (int rank = 6; rank >= 1; rank--)
        for (int file = 0; file < 4; file++) solvePawnSquare(makeSquare(file, rank));
}

bool kpkWhiteWins(Square whiteKing, Square whitePawn, Square blackKing, Color sideToMove) {
    if (rankOf(whitePawn) < 1 || rankOf(whitePawn) > 6) return false;
    if (fileOf(whitePawn) > 3) {
        whiteKing ^= 7;
        whitePawn ^= 7;
        blackKing ^= 7;
    }
    return (KpkWins[sideToMove][pawnSlot(whitePawn)][whiteKing] >> blackKing) & 1;
}
