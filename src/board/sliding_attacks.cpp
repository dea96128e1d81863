#include "board/sliding_attacks.h"

Bitboard SlidingAttackTable[SLIDING_TABLE_SIZE];

namespace {

// Squares reached from sq along the four (file, rank) directions; each ray
// ends at the first square of occ (which is included) or at the board edge.
Bitboard slidingAttacks(Square sq, Bitboard occ, const int (&dirs)[4][2]) {
    Bitboard result = 0;
    for (const auto& d : dirs) {
        int f = fileOf(sq) + d[0], r = rankOf(sq) + d[1];
        while (f >= 0 && f < 8 && r >= 0 && r < 8) {
            Bitboard b = Bitboard(1) << makeSquare(f, r);
            result |= b;
            if (occ & b) break;
            f += d[0];
            r += d[1];
        }
    }
    return result;
}

void fill(const Magic& m, int shift, Square sq, const int (&dirs)[4][2]) {
    // Walks every subset of the mask (the carry-rippler trick), 0 first.
    Bitboard sub = 0;
    do {
        SlidingAttackTable[((sub * m.magic) >> shift) + m.offset] = slidingAttacks(sq, sub, dirs);
        sub = (sub - m.mask) & m.mask;
    } while (sub);
}

}  // namespace

void initSlidingAttacks() {
    static constexpr int rookDirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    static constexpr int bishopDirs[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    // Rewriting the same values is harmless, so calling this twice is fine.
    for (Square sq = 0; sq < 64; sq++) fill(RookMagic[sq], ROOK_SHIFT, sq, rookDirs);
    for (Square sq = 0; sq < 64; sq++) fill(BishopMagic[sq], BISHOP_SHIFT, sq, bishopDirs);
}
