#include "board/sliding_attacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

namespace {

const int RookSteps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
const int BishopSteps[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Slow reference: walks each ray square by square until it leaves the board or
// has just passed over an occupied square.
Bitboard walkRays(Square sq, Bitboard occ, const int (&steps)[4][2]) {
    Bitboard result = 0;
    for (const auto& step : steps) {
        for (int f = fileOf(sq) + step[0], r = rankOf(sq) + step[1]; f >= 0 && f < 8 && r >= 0 && r < 8;
             f += step[0], r += step[1]) {
            Bitboard b = Bitboard(1) << makeSquare(f, r);
            result |= b;
            if (occ & b) break;
        }
    }
    return result;
}

Bitboard rookReference(Square sq, Bitboard occ) {
    return walkRays(sq, occ, RookSteps);
}
Bitboard bishopReference(Square sq, Bitboard occ) {
    return walkRays(sq, occ, BishopSteps);
}

// The relevant occupancy straight from its definition: the rays from sq without
// the last square of each ray.
Bitboard innerRays(Square sq, const int (&steps)[4][2]) {
    Bitboard result = 0;
    for (const auto& step : steps) {
        int f = fileOf(sq) + step[0], r = rankOf(sq) + step[1];
        for (; f + step[0] >= 0 && f + step[0] < 8 && r + step[1] >= 0 && r + step[1] < 8;
             f += step[0], r += step[1])
            result |= Bitboard(1) << makeSquare(f, r);
    }
    return result;
}

std::string name(Square sq) {
    return std::string{char('a' + fileOf(sq)), char('1' + rankOf(sq))};
}

class SlidingAttacks : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initSlidingAttacks(); }
};

TEST_F(SlidingAttacks, MasksAreTheInnerRays) {
    for (Square sq = 0; sq < 64; sq++) {
        EXPECT_EQ(RookMagic[sq].mask, innerRays(sq, RookSteps)) << name(sq);
        EXPECT_EQ(BishopMagic[sq].mask, innerRays(sq, BishopSteps)) << name(sq);
    }
}

// Every subset of every mask must index inside the shared array; the fill
// would write out of bounds otherwise (and so would a lookup).
TEST_F(SlidingAttacks, EveryIndexIsInsideTheTable) {
    for (Square sq = 0; sq < 64; sq++) {
        for (bool rook : {true, false}) {
            const Magic& m = rook ? RookMagic[sq] : BishopMagic[sq];
            const int shift = rook ? ROOK_SHIFT : BISHOP_SHIFT;
            uint64_t highest = 0;
            Bitboard sub = 0;
            do {
                highest = std::max(highest, (sub * m.magic) >> shift);
                sub = (sub - m.mask) & m.mask;
            } while (sub);
            EXPECT_LT(m.offset + highest, SLIDING_TABLE_SIZE) << name(sq) << (rook ? " rook" : " bishop");
        }
    }
}

// Exhaustive over the relevant occupancies of every square: this is what finds
// a slot that two squares (or two occupancies) claim with different attack sets.
// Squares outside the mask are filled with a fixed pattern to check that they
// are ignored.
TEST_F(SlidingAttacks, EveryRelevantOccupancyMatchesTheReference) {
    for (Square sq = 0; sq < 64; sq++) {
        const Bitboard noise[] = {0, ~RookMagic[sq].mask & ~BishopMagic[sq].mask, 0x5A3C96E1F00F8421ULL};
        for (bool rook : {true, false}) {
            const Bitboard mask = rook ? RookMagic[sq].mask : BishopMagic[sq].mask;
            int failures = 0;
            Bitboard sub = 0;
            do {
                for (Bitboard extra : noise) {
                    Bitboard occ = sub | (extra & ~mask);
                    Bitboard got = rook ? rookAttacks(sq, occ) : bishopAttacks(sq, occ);
                    Bitboard want = rook ? rookReference(sq, occ) : bishopReference(sq, occ);
                    if (got != want && failures++ < 3)
                        ADD_FAILURE() << name(sq) << (rook ? " rook" : " bishop") << " occ 0x" << std::hex
                                      << occ << ": got 0x" << got << ", want 0x" << want;
                }
                sub = (sub - mask) & mask;
            } while (sub);
        }
    }
}

// Random boards of varied density, including the sliding piece's own square
// being occupied (as it is in a real position), for all three lookups.
TEST_F(SlidingAttacks, RandomOccupanciesMatchTheReference) {
    std::mt19937_64 rng(20240611);
    for (Square sq = 0; sq < 64; sq++) {
        for (int i = 0; i < 400; i++) {
            Bitboard occ = rng();
            if (i % 4 == 1) occ &= rng();
            if (i % 4 == 2) occ &= rng() & rng();
            if (i % 4 == 3) occ |= rng();
            if (i % 2) occ |= Bitboard(1) << sq;
            Bitboard rook = rookReference(sq, occ), bishop = bishopReference(sq, occ);
            ASSERT_EQ(rookAttacks(sq, occ), rook) << name(sq) << " occ 0x" << std::hex << occ;
            ASSERT_EQ(bishopAttacks(sq, occ), bishop) << name(sq) << " occ 0x" << std::hex << occ;
            ASSERT_EQ(queenAttacks(sq, occ), rook | bishop) << name(sq) << " occ 0x" << std::hex << occ;
        }
    }
}

// Pins the reference itself to hand-checked sets, so that a slip shared by the
// reference and the fill cannot pass unnoticed.
TEST_F(SlidingAttacks, KnownPositions) {
    struct Case {
        Square sq;
        Bitboard occ, rook, bishop;
    };
    const Case cases[] = {
        // Empty board from a corner: the full file and rank, the long diagonal.
        {A1, 0, 0x01010101010101FEULL, 0x8040201008040200ULL},
        // Rook on d4 blocked on d6, b4 and f4 and open towards d1; bishop blocked on f6 and b2.
        {D4, (1ULL << D6) | (1ULL << B4) | (1ULL << F4) | (1ULL << F6) | (1ULL << B2),
         (1ULL << D6) | (1ULL << D5) | (1ULL << D3) | (1ULL << D2) | (1ULL << D1) | (1ULL << B4) |
             (1ULL << C4) | (1ULL << E4) | (1ULL << F4),
         (1ULL << E5) | (1ULL << F6) | (1ULL << C3) | (1ULL << B2) | (1ULL << C5) | (1ULL << B6) |
             (1ULL << A7) | (1ULL << E3) | (1ULL << F2) | (1ULL << G1)},
        // Fully blocked h8: only the adjacent squares.
        {H8, ~0ULL, (1ULL << G8) | (1ULL << H7), 1ULL << G7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rookAttacks(c.sq, c.occ), c.rook) << name(c.sq);
        EXPECT_EQ(bishopAttacks(c.sq, c.occ), c.bishop) << name(c.sq);
        EXPECT_EQ(queenAttacks(c.sq, c.occ), c.rook | c.bishop) << name(c.sq);
    }
}

}  // namespace
