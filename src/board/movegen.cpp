#include "board/movegen.h"

#include "board/bitboard.h"
#include "board/sliding_attacks.h"

namespace {

constexpr MoveKind PromotionOrder[4] = {PROMO_QUEEN, PROMO_KNIGHT, PROMO_ROOK, PROMO_BISHOP};

inline int add(MoveEntry* list, int n, Move m) {
    list[n] = {m, 0};
    return n + 1;
}

// Adds a move from `from` to every square of `targets`.
inline int addTargets(MoveEntry* list, int n, Square from, Bitboard targets) {
    while (targets) n = add(list, n, encodeMove(from, popLsb(targets)));
    return n;
}

// Adds, for every square of `targets`, the move of kind `kind` from the square
// `delta` behind it.
inline int addShifted(MoveEntry* list, int n, Bitboard targets, int delta, MoveKind kind) {
    while (targets) {
        Square to = popLsb(targets);
        n = add(list, n, encodeMove(to - delta, to, kind));
    }
    return n;
}

inline int addPromotions(MoveEntry* list, int n, Square from, Square to) {
    for (MoveKind kind : PromotionOrder) n = add(list, n, encodeMove(from, to, kind));
    return n;
}

inline Bitboard pawnsForward(Bitboard b, Color c) {
    return c == WHITE ? shiftNorth(b) : shiftSouth(b);
}

// Squares attacked by the pawns of colour c towards the west (file - 1) or east.
inline Bitboard pawnCapturesWest(Bitboard pawns, Color c) {
    return pawnsForward(shiftWest(pawns), c);
}
inline Bitboard pawnCapturesEast(Bitboard pawns, Color c) {
    return pawnsForward(shiftEast(pawns), c);
}

// Moves of every piece of type t of the side to move onto `targets`.
inline int addPieceMoves(const Position& pos, MoveEntry* list, int n, PieceType t, Bitboard targets) {
    for (Bitboard b = pos.ours(t); b;) {
        Square from = popLsb(b);
        n = addTargets(list, n, from, pieceAttacks(t, from, pos.occupied) & targets);
    }
    return n;
}

// Castling, king side first. Generated only when fully legal: not in check,
// path empty, and no square the king crosses (start and end included) attacked.
int addCastling(const Position& pos, MoveEntry* list, int n) {
    if (pos.checkers) return n;
    Color us = pos.sideToMove();
    Square king = pos.kingSquare[us];
    Bitboard attacked = 0;
    bool attackedKnown = false;
    for (int r = 2 * us; r <= 2 * us + 1; r++) {
        if ((pos.castleLost & (1 << r)) || (castlePath[r] & pos.occupied)) continue;
        if (!attackedKnown) {
            attacked = attackedBy(pos, ~us, pos.occupied);
            attackedKnown = true;
        }
        Square kingTo = CastleKingTo[r];
        Bitboard crossed = squareBB(king) | Between[king][kingTo] | squareBB(kingTo);
        if (!(crossed & attacked)) n = add(list, n, encodeMove(king, castleRookSquare[r], CASTLING));
    }
    return n;
}

inline bool knightChecks(const Position& pos, Square to) {
    return KnightAttacks[to] & pos.theirs(KING);
}

}  // namespace

Bitboard attackedBy(const Position& pos, Color c, Bitboard occ) {
    const Bitboard* p = pos.pieces[c];
    Bitboard result = pawnCapturesWest(p[PAWN], c) | pawnCapturesEast(p[PAWN], c);
    for (Bitboard b = p[KNIGHT]; b;) result |= KnightAttacks[popLsb(b)];
    for (Bitboard b = p[BISHOP] | p[QUEEN]; b;) result |= bishopAttacks(popLsb(b), occ);
    for (Bitboard b = p[ROOK] | p[QUEEN]; b;) result |= rookAttacks(popLsb(b), occ);
    return result | KingAttacks[pos.kingSquare[c]];
}

bool isPseudoLegal(const Position& pos, Move m) {
    if (m == MOVE_NONE) return false;
    Color us = pos.sideToMove();
    Square from = moveFrom(m), to = moveTo(m);
    Piece piece = pos.board[from];
    if (piece == NO_PIECE || colorOf(piece) != us) return false;
    PieceType type = typeOf(piece);
    Bitboard toBB = squareBB(to);

    switch (moveKind(m)) {
        case NORMAL:
            if (pos.pieces[us][0] & toBB) return false;
            switch (type) {
                case PAWN:
                    if (toBB & LastRanks) return false;
                    if (to == from + PawnPush[us]) return !(pos.occupied & toBB);
                    return (PawnAttacks[us][from] & toBB & pos.pieces[~us][0]) != 0;
                case KNIGHT:
                    return (KnightAttacks[from] & toBB) != 0;
                case BISHOP:
                    return (bishopAttacks(from, pos.occupied) & toBB) != 0;
                case ROOK:
                    return (rookAttacks(from, pos.occupied) & toBB) != 0;
                case QUEEN:
                    return (QueenRays[from] & toBB) && !(Between[from][to] & pos.occupied);
                default:
                    return (KingAttacks[from] & toBB) != 0;
            }
        case DOUBLE_PUSH: {
            if (type != PAWN || !(SecondRank[us] & squareBB(from))) return false;
            Square over = from + PawnPush[us];
            return to == over + PawnPush[us] && !(pos.occupied & (squareBB(over) | toBB));
        }
        case EN_PASSANT:
            return type == PAWN && (pos.epBitboard & toBB) && (PawnAttacks[us][from] & toBB);
        case CASTLING: {
            if (type != KING || from != pos.kingSquare[us]) return false;
            int r = 2 * us + (to > from ? 0 : 1);
            if ((pos.castleLost & (1 << r)) || to != castleRookSquare[r] || (castlePath[r] & pos.occupied))
                return false;
            Square kingTo = CastleKingTo[r];
            for (Bitboard crossed = squareBB(from) | Between[from][kingTo] | squareBB(kingTo); crossed;)
                if (attackersTo(pos, popLsb(crossed), pos.occupied) & pos.pieces[~us][0]) return false;
            return true;
        }
        case PROMO_QUEEN:
        case PROMO_KNIGHT:
        case PROMO_ROOK:
        case PROMO_BISHOP:
            if (type != PAWN || !(toBB & LastRanks)) return false;
            if (to == from + PawnPush[us]) return !(pos.occupied & toBB);
            return (PawnAttacks[us][from] & toBB & pos.pieces[~us][0]) != 0;
        default:  // kinds 8..15 are never made; a corrupted table move may carry one
            return false;
    }
}

int generateAll(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Bitboard pawns = pos.ours(PAWN), empty = ~pos.occupied, enemies = pos.pieces[~us][0];
    int push = PawnPush[us], n = 0;
    Bitboard push1 = pawnsForward(pawns, us) & empty;

    // Step 1: promotion pushes.
    for (Bitboard b = push1 & LastRanks; b;) {
        Square to = popLsb(b);
        n = addPromotions(list, n, to - push, to);
    }
    // Step 2: castling.
    n = addCastling(pos, list, n);

    // Step 3: pawn captures, one diagonal then the other.
    Bitboard targets = enemies | pos.epBitboard;
    for (int side = 0; side < 2; side++) {
        Bitboard caps = (side == 0 ? pawnCapturesWest(pawns, us) : pawnCapturesEast(pawns, us)) & targets;
        int delta = push + (side == 0 ? -1 : 1);
        while (caps) {
            Square to = popLsb(caps);
            if (squareBB(to) & LastRanks)
                n = addPromotions(list, n, to - delta, to);
            else
                n = add(list, n,
                        encodeMove(to - delta, to, squareBB(to) & pos.epBitboard ? EN_PASSANT : NORMAL));
        }
    }
    // Step 4: single pushes.
    n = addShifted(list, n, push1 & ~LastRanks, push, NORMAL);

    // Steps 5 and 6: pieces, then the king (not onto squares enemy pawns cover).
    Bitboard notOwn = ~pos.pieces[us][0];
    for (PieceType t : {KNIGHT, BISHOP, ROOK, QUEEN}) n = addPieceMoves(pos, list, n, t, notOwn);
    Bitboard pawnCovered = pawnCapturesWest(pos.theirs(PAWN), ~us) | pawnCapturesEast(pos.theirs(PAWN), ~us);
    n = addTargets(list, n, pos.kingSquare[us], KingAttacks[pos.kingSquare[us]] & notOwn & ~pawnCovered);

    // Step 7: double pushes.
    Bitboard thirdRank = rankBB(us == WHITE ? 2 : 5);
    n = addShifted(list, n, pawnsForward(push1 & thirdRank, us) & empty, 2 * push, DOUBLE_PUSH);
    return n;
}

int generateTactical(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Bitboard pawns = pos.ours(PAWN), enemies = pos.pieces[~us][0];
    int push = PawnPush[us], n = 0;

    // Step 1: queen promotions, plus knight promotions that give check.
    for (Bitboard b = pawns & SeventhRank[us]; b;) {
        Square from = popLsb(b);
        for (Bitboard caps = PawnAttacks[us][from] & enemies; caps;) {
            Square to = popLsb(caps);
            n = add(list, n, encodeMove(from, to, PROMO_QUEEN));
            if (knightChecks(pos, to)) n = add(list, n, encodeMove(from, to, PROMO_KNIGHT));
        }
        Square to = from + push;
        if (pos.board[to] == NO_PIECE) {
            n = add(list, n, encodeMove(from, to, PROMO_QUEEN));
            if (knightChecks(pos, to)) n = add(list, n, encodeMove(from, to, PROMO_KNIGHT));
        }
    }
    // Step 2: en passant.
    if (pos.epBitboard) {
        Square ep = lsb(pos.epBitboard);
        for (Bitboard b = PawnAttacks[~us][ep] & pawns; b;)
            n = add(list, n, encodeMove(popLsb(b), ep, EN_PASSANT));
    }
    // Step 3: other pawn captures, then the pieces' captures.
    Bitboard others = pawns & ~SeventhRank[us];
    n = addShifted(list, n, pawnCapturesWest(others, us) & enemies, push - 1, NORMAL);
    n = addShifted(list, n, pawnCapturesEast(others, us) & enemies, push + 1, NORMAL);
    for (PieceType t : {KNIGHT, BISHOP, ROOK, QUEEN, KING}) n = addPieceMoves(pos, list, n, t, enemies);
    return n;
}

int generateQuiet(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Bitboard pawns = pos.ours(PAWN), empty = ~pos.occupied, enemies = pos.pieces[~us][0];
    int push = PawnPush[us], n = 0;
    Bitboard push1 = pawnsForward(pawns, us) & empty;

    // Step 1: castling. Step 2: single pushes.
    n = addCastling(pos, list, n);
    n = addShifted(list, n, push1 & ~LastRanks, push, NORMAL);

    // Step 3: pieces and king onto empty squares.
    for (PieceType t : {KNIGHT, BISHOP, ROOK, QUEEN, KING}) n = addPieceMoves(pos, list, n, t, empty);

    // Step 4: double pushes, then the under-promotions the tactical stage leaves out.
    Bitboard thirdRank = rankBB(us == WHITE ? 2 : 5);
    n = addShifted(list, n, pawnsForward(push1 & thirdRank, us) & empty, 2 * push, DOUBLE_PUSH);
    for (Bitboard b = pawns & SeventhRank[us]; b;) {
        Square from = popLsb(b);
        Bitboard dests = (squareBB(from + push) & empty) | (PawnAttacks[us][from] & enemies);
        while (dests) {
            Square to = popLsb(dests);
            if (!knightChecks(pos, to)) n = add(list, n, encodeMove(from, to, PROMO_KNIGHT));
            n = add(list, n, encodeMove(from, to, PROMO_ROOK));
            n = add(list, n, encodeMove(from, to, PROMO_BISHOP));
        }
    }
    return n;
}

int generateEvasions(const Position& pos, MoveEntry* list) {
    Color us = pos.sideToMove();
    Square king = pos.kingSquare[us];
    Bitboard pawns = pos.ours(PAWN);
    int push = PawnPush[us], n = 0;

    if (!moreThanOne(pos.checkers)) {
        Square checker = lsb(pos.checkers);
        Bitboard checkerBB = pos.checkers;

        // Pawn captures of the checking piece.
        for (Bitboard b = PawnAttacks[~us][checker] & pawns; b;) {
            Square from = popLsb(b);
            if (checkerBB & LastRanks)
                n = addPromotions(list, n, from, checker);
            else
                n = add(list, n, encodeMove(from, checker));
        }
        // En passant of the pawn that has just pushed twice and gives check.
        if (pos.epBitboard && checker == lsb(pos.epBitboard) - push) {
            Square ep = lsb(pos.epBitboard);
            for (Bitboard b = PawnAttacks[~us][ep] & pawns; b;)
                n = add(list, n, encodeMove(popLsb(b), ep, EN_PASSANT));
        }
        // Captures by the pieces.
        Bitboard diagonal = pos.ours(BISHOP) | pos.ours(QUEEN), straight = pos.ours(ROOK) | pos.ours(QUEEN);
        for (Bitboard b = KnightAttacks[checker] & pos.ours(KNIGHT); b;)
            n = add(list, n, encodeMove(popLsb(b), checker));
        for (Bitboard b = bishopAttacks(checker, pos.occupied) & diagonal; b;)
            n = add(list, n, encodeMove(popLsb(b), checker));
        for (Bitboard b = rookAttacks(checker, pos.occupied) & straight; b;)
            n = add(list, n, encodeMove(popLsb(b), checker));

        // Interpositions against a slider.
        Bitboard between = Between[king][checker];
        if (between) {
            Bitboard push1 = pawnsForward(pawns, us) & ~pos.occupied;
            for (Bitboard b = push1 & between; b;) {
                Square to = popLsb(b);
                if (squareBB(to) & LastRanks)
                    n = addPromotions(list, n, to - push, to);
                else
                    n = add(list, n, encodeMove(to - push, to));
            }
            Bitboard thirdRank = rankBB(us == WHITE ? 2 : 5);
            Bitboard push2 = pawnsForward(push1 & thirdRank, us) & ~pos.occupied & between;
            n = addShifted(list, n, push2, 2 * push, DOUBLE_PUSH);
            for (Bitboard b = pos.ours(KNIGHT); b;) {
                Square from = popLsb(b);
                n = addTargets(list, n, from, KnightAttacks[from] & between);
            }
            for (Bitboard b = diagonal; b;) {
                Square from = popLsb(b);
                n = addTargets(list, n, from, bishopAttacks(from, pos.occupied) & between);
            }
            for (Bitboard b = straight; b;) {
                Square from = popLsb(b);
                n = addTargets(list, n, from, rookAttacks(from, pos.occupied) & between);
            }
        }
    }
    // King moves, with the king itself removed so that it cannot hide behind itself.
    Bitboard attacked = attackedBy(pos, ~us, pos.occupied ^ squareBB(king));
    return addTargets(list, n, king, KingAttacks[king] & ~pos.pieces[us][0] & ~attacked);
}

int sliderQuietMoves(Square s, Bitboard occ, bool isRook, MoveEntry* list) {
    Bitboard attacks = isRook ? rookAttacks(s, occ) : bishopAttacks(s, occ);
    return addTargets(list, 0, s, attacks & ~occ);
}
