// Rook, bishop and queen attacks through one shared magic-indexed table.
//
// Every square uses the same shift (52 for rooks, 55 for bishops), so a lookup
// is one AND, one multiply, one shift and one add. The per-square sub-tables
// overlap inside the shared array: the magics were searched so that whenever
// two occupancies of different squares land on the same slot they need the
// same attack set.
#pragma once

#include "board/magic_numbers.h"
#include "board/types.h"

constexpr int ROOK_SHIFT = 52;
constexpr int BISHOP_SHIFT = 55;

extern Bitboard SlidingAttackTable[SLIDING_TABLE_SIZE];

// Fills SlidingAttackTable from the magic numbers. Run once at start-up.
void initSlidingAttacks();

inline Bitboard rookAttacks(Square s, Bitboard occ) {
    const Magic& m = RookMagic[s];
    return SlidingAttackTable[(((occ & m.mask) * m.magic) >> ROOK_SHIFT) + m.offset];
}

inline Bitboard bishopAttacks(Square s, Bitboard occ) {
    const Magic& m = BishopMagic[s];
    return SlidingAttackTable[(((occ & m.mask) * m.magic) >> BISHOP_SHIFT) + m.offset];
}

inline Bitboard queenAttacks(Square s, Bitboard occ) {
    return rookAttacks(s, occ) | bishopAttacks(s, occ);
}
