#include "board/make_move.h"

#include <cstring>

#include "board/bitboard.h"
#include "board/movegen.h"
#include "board/psq_table.h"
#include "board/sliding_attacks.h"
#include "board/zobrist.h"
#include "core/options.h"

namespace {

constexpr int PhaseWeight[8] = {0, 0, 3, 4, 8, 18, 0, 0};

inline void removePiece(Position& pos, Piece p, Square s) {
    pos.board[s] = NO_PIECE;
    pos.pieces[colorOf(p)][typeOf(p)] ^= squareBB(s);
    pos.pieces[colorOf(p)][0] ^= squareBB(s);
}

inline void placePiece(Position& pos, Piece p, Square s) {
    pos.board[s] = uint8_t(p);
    pos.pieces[colorOf(p)][typeOf(p)] ^= squareBB(s);
    pos.pieces[colorOf(p)][0] ^= squareBB(s);
}

inline void setDirty(DirtyPieces& d, int i, Piece p, Square from, Square to) {
    d.piece[i] = uint8_t(p);
    d.from[i] = uint8_t(from);
    d.to[i] = uint8_t(to);
}

// Whether king square k of colour us is attacked by the other side, sliders
// seen through occ.
inline bool kingAttacked(const Position& pos, Color us, Square k, Bitboard occ) {
    return attackersTo(pos, k, occ) & pos.pieces[~us][0];
}

// Castling: the destination of the move is the rook's square. The king goes to
// the g- or c-file, the rook to the f- or d-file; in Chess960 either may stay
// put, or land where the other stood.
bool makeCastling(const Position& parent, Position& child, Move m) {
    Color us = parent.sideToMove();
    Square kingFrom = moveFrom(m), rookFrom = moveTo(m);
    bool kingSide = rookFrom > kingFrom;
    Square kingTo = makeSquare(kingSide ? 6 : 2, rankOf(kingFrom));
    Square rookTo = makeSquare(kingSide ? 5 : 3, rankOf(kingFrom));
    Piece king = makePiece(us, KING), rook = makePiece(us, ROOK);

    // Both pieces leave before either lands, so overlapping squares work out.
    removePiece(child, king, kingFrom);
    removePiece(child, rook, rookFrom);
    placePiece(child, king, kingTo);
    placePiece(child, rook, rookTo);
    child.kingSquare[us] = kingTo;
    child.key ^= ZobristPiece[us][KING][kingFrom] ^ ZobristPiece[us][KING][kingTo];
    child.key ^= ZobristPiece[us][ROOK][rookFrom] ^ ZobristPiece[us][ROOK][rookTo];
    child.pawnKey ^= PawnZobrist[us][KING][kingFrom] ^ PawnZobrist[us][KING][kingTo];
    child.psqScore += PsqTable[king][kingTo] - PsqTable[king][kingFrom];
    child.psqScore += PsqTable[rook][rookTo] - PsqTable[rook][rookFrom];

    uint8_t lost = child.castleLost | uint8_t(us == WHITE ? 3 : 12);
    child.key ^= ZobristCastle[child.castleLost] ^ ZobristCastle[lost];
    child.pawnKey ^= ZobristCastle[child.castleLost] ^ ZobristCastle[lost];
    child.castleLost = lost;

    child.gamePly++;
    child.occupied = child.pieces[WHITE][0] | child.pieces[BLACK][0];
    child.movedPiece = uint16_t(king);
    child.dirtyPieces.count = 2;
    setDirty(child.dirtyPieces, 0, king, kingFrom, kingTo);
    setDirty(child.dirtyPieces, 1, rook, rookFrom, rookTo);
    child.checkers = computeCheckers(child);

    // The generator only castles legally in standard chess; in Chess960 the
    // castling rook may have shielded the king on its destination.
    return !chess960 || !kingAttacked(child, us, kingTo, child.occupied);
}

}  // namespace

void (*onChildKeyKnown)(const Position& child) = nullptr;

// Makes m from parent into child by copying the parent's record and editing
// the copy. Every key and incremental score is updated as it goes.
bool makeMove(const Position& parent, Position& child, Move m) {
    // Step 1: copy and reset the per-move fields.
    std::memcpy(static_cast<void*>(&child), &parent, POSITION_COPY_BYTES);
    child.parent = &parent;
    child.capturedType = 0;
    child.lastMove = m;
    child.staticEval = 999999;
    child.rule50++;
    child.dirtyPieces.count = 1;
    child.computed[WHITE] = child.computed[BLACK] = false;

    // Step 2: the en-passant square expires and the side to move changes.
    if (child.epBitboard) {
        child.key ^= ZobristEp[lsb(child.epBitboard)];
        child.epBitboard = 0;
    }
    child.key ^= SideKey[WHITE] ^ SideKey[BLACK];

    // Step 3: the null move.
    if (m == MOVE_NONE) {
        child.gamePly++;
        child.movedPiece = 0;
        child.dirtyPieces.count = 0;
        if (onChildKeyKnown) onChildKeyKnown(child);
        child.checkers = computeCheckers(child);
        return true;
    }

    // Step 4: castling.
    if (moveKind(m) == CASTLING) return makeCastling(parent, child, m);

    // Step 5: every other move.
    Color us = parent.sideToMove(), them = ~us;
    Square from = moveFrom(m), to = moveTo(m);
    Piece piece = parent.board[from];
    PieceType type = typeOf(piece);
    child.movedPiece = uint16_t(piece);
    DirtyPieces& dirty = child.dirtyPieces;
    bool fillDirty = !useRegularEval;
    if (fillDirty) setDirty(dirty, 0, piece, from, to);

    // A capture: by en passant the pawn stands beside the destination.
    Square capSq = moveKind(m) == EN_PASSANT ? makeSquare(fileOf(to), rankOf(from)) : to;
    Piece captured = parent.board[capSq];
    if (captured != NO_PIECE) {
        PieceType ct = typeOf(captured);
        removePiece(child, captured, capSq);
        child.key ^= ZobristPiece[them][ct][capSq];
        child.pawnKey ^= PawnZobrist[them][ct][capSq];
        child.psqScore -= PsqTable[captured][capSq];
        child.materialKey -= Key(MaterialSignature[them][ct][squareColor(capSq)]);
        child.materialCountKey -= Key(MaterialSignature[them][ct][0]);
        child.pieceCount--;
        child.phase = int16_t(child.phase - PhaseWeight[ct]);
        child.capturedType = uint16_t(ct);
        child.rule50 = 0;
        if (fillDirty) setDirty(dirty, dirty.count++, captured, capSq, SQ_NONE);
    }

    // The move itself.
    removePiece(child, piece, from);
    placePiece(child, piece, to);
    child.key ^= ZobristPiece[us][type][from] ^ ZobristPiece[us][type][to];
    child.pawnKey ^= PawnZobrist[us][type][from] ^ PawnZobrist[us][type][to];
    child.psqScore += PsqTable[piece][to] - PsqTable[piece][from];
    if (type == KING) child.kingSquare[us] = to;

    uint8_t lost = child.castleLost | CastleMask[from] | CastleMask[to];
    if (lost != child.castleLost) {
        child.key ^= ZobristCastle[child.castleLost] ^ ZobristCastle[lost];
        child.pawnKey ^= ZobristCastle[child.castleLost] ^ ZobristCastle[lost];
        child.castleLost = lost;
    }

    if (type == PAWN) {
        child.rule50 = 0;
        // A double push leaves an en-passant square only when an enemy pawn can use it.
        if (moveKind(m) == DOUBLE_PUSH) {
            Bitboard beside = shiftEast(squareBB(to)) | shiftWest(squareBB(to));
            if (beside & child.pieces[them][PAWN]) {
                Square ep = (from + to) / 2;
                child.epBitboard = squareBB(ep);
                child.key ^= ZobristEp[ep];
            }
        } else if (isPromotion(m)) {
            PieceType pt = promotionType(m);
            Piece promoted = makePiece(us, pt);
            removePiece(child, piece, to);
            placePiece(child, promoted, to);
            child.key ^= ZobristPiece[us][PAWN][to] ^ ZobristPiece[us][pt][to];
            child.pawnKey ^= PawnZobrist[us][PAWN][to];
            child.psqScore += PsqTable[promoted][to] - PsqTable[piece][to];
            child.materialKey +=
                Key(MaterialSignature[us][pt][squareColor(to)]) - Key(MaterialSignature[us][PAWN][0]);
            child.materialCountKey += Key(MaterialSignature[us][pt][0]) - Key(MaterialSignature[us][PAWN][0]);
            child.phase = int16_t(child.phase + PhaseWeight[pt]);
            if (fillDirty) {
                dirty.to[0] = SQ_NONE;
                setDirty(dirty, dirty.count++, promoted, SQ_NONE, to);
            }
        }
    }
    // The key is final: the search starts loading the child's table entries
    // now, so that the memory latency overlaps the legality test.
    if (onChildKeyKnown) onChildKeyKnown(child);
    child.occupied = child.pieces[WHITE][0] | child.pieces[BLACK][0];

    // Legality: the mover's own king must not be attacked. When we were not
    // in check and neither the king moved nor a pawn was taken en passant,
    // only a slider on a line through the vacated square can have been
    // uncovered. (This relies on the parent's `checkers` being valid.)
    Square king = child.kingSquare[us];
    child.checkers = 0;
    if (parent.checkers || type == KING || moveKind(m) == EN_PASSANT) {
        child.checkers = attackersTo(child, king, child.occupied) & child.pieces[them][0];
    } else if (QueenRays[king] & squareBB(from)) {
        Bitboard diagonal = child.pieces[them][BISHOP] | child.pieces[them][QUEEN];
        Bitboard straight = child.pieces[them][ROOK] | child.pieces[them][QUEEN];
        child.checkers =
            (bishopAttacks(king, child.occupied) & diagonal) | (rookAttacks(king, child.occupied) & straight);
    }
    if (child.checkers) return false;

    child.gamePly++;
    return true;
}

// Whether a pseudo-legal move gives check: directly from its destination, or
// by uncovering a slider of the mover through the vacated square(s).
bool givesCheck(const Position& pos, Move m) {
    Color us = pos.sideToMove();
    Square k = pos.kingSquare[~us];
    Square from = moveFrom(m), to = moveTo(m);
    Bitboard occ = pos.occupied;
    PieceType type = typeOf(pos.board[from]);

    // Step 1: direct checks. Castling is decided by the rook alone; for
    // promotions only the pawn's own attack counts.
    if (moveKind(m) == CASTLING) {
        bool kingSide = to > from;
        Square kingTo = makeSquare(kingSide ? 6 : 2, rankOf(from));
        Square rookTo = makeSquare(kingSide ? 5 : 3, rankOf(from));
        Bitboard after = (occ ^ squareBB(from) ^ squareBB(to)) | squareBB(kingTo) | squareBB(rookTo);
        return (rookAttacks(rookTo, after) & squareBB(k)) != 0;
    }
    switch (type) {
        case PAWN:
            if (PawnAttacks[us][to] & squareBB(k)) return true;
            break;
        case KNIGHT:
            if (KnightAttacks[to] & squareBB(k)) return true;
            break;
        case BISHOP:
            if (bishopAttacks(k, occ) & squareBB(to)) return true;
            break;
        case ROOK:
            if (rookAttacks(k, occ) & squareBB(to)) return true;
            break;
        case QUEEN:
            if ((QueenRays[k] & squareBB(to)) && !(Between[to][k] & occ)) return true;
            break;
        default:
            if (KingAttacks[to] & squareBB(k)) return true;
            break;
    }

    // Step 2: discovered checks.
    Bitboard vacated = squareBB(from);
    if (moveKind(m) == EN_PASSANT) vacated |= squareBB(makeSquare(fileOf(to), rankOf(from)));
    Bitboard after = (occ & ~vacated) | squareBB(to);
    Bitboard ours = pos.pieces[us][0] & ~squareBB(from);
    Bitboard diagonal = (pos.pieces[us][BISHOP] | pos.pieces[us][QUEEN]) & ours;
    Bitboard straight = (pos.pieces[us][ROOK] | pos.pieces[us][QUEEN]) & ours;
    if ((BishopRays[k] & vacated) && (bishopAttacks(k, after) & diagonal)) return true;
    if ((RookRays[k] & vacated) && (rookAttacks(k, after) & straight)) return true;
    return false;
}

bool hasLegalMove(const Position& pos, int* movesTried) {
    MoveEntry list[MAX_MOVES];
    int count = generateAll(pos, list);
    Position scratch;
    for (int i = 0; i < count; i++) {
        if (movesTried) ++*movesTried;
        if (makeMove(pos, scratch, list[i].move)) return true;
    }
    return false;
}
