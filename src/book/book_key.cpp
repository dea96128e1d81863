#include "book/book_key.h"

#include "board/bitboard.h"
#include "book/polyglot_keys.h"

uint64_t bookKey(const Position& pos) {
    uint64_t key = 0;
    for (Bitboard b = pos.occupied; b; b &= b - 1) {
        Square s = lsb(b);
        Piece p = pos.pieceOn(s);
        // The book's piece kinds interleave the colours, black first.
        int kind = 2 * (typeOf(p) - PAWN) + (colorOf(p) == WHITE ? 1 : 0);
        key ^= PolyglotRandom[64 * kind + s];
    }
    for (int right = 0; right < 4; right++)
        if (!(pos.castleLost & (1 << right))) key ^= PolyglotRandom[POLYGLOT_CASTLE_OFFSET + right];
    if (pos.epBitboard) key ^= PolyglotRandom[POLYGLOT_EP_OFFSET + fileOf(lsb(pos.epBitboard))];
    if (pos.sideToMove() == WHITE) key ^= PolyglotRandom[POLYGLOT_TURN_OFFSET];
    return key;
}
