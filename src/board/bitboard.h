// Bitboard helpers and the fixed attack tables of the leaper pieces.
#pragma once

#include <array>
#include <bit>
#include <cstddef>

#include "board/types.h"

constexpr Bitboard FILE_A_BB = 0x0101010101010101ULL;
constexpr Bitboard RANK_1_BB = 0xFFULL;

constexpr Bitboard squareBB(Square s) {
    return Bitboard(1) << s;
}
constexpr Bitboard fileBB(int file) {
    return FILE_A_BB << file;
}
constexpr Bitboard rankBB(int rank) {
    return RANK_1_BB << (8 * rank);
}

inline int popcount(Bitboard b) {
    return std::popcount(b);
}
inline Square lsb(Bitboard b) {
    return std::countr_zero(b);
}
// Returns the lowest square of b and removes it.
inline Square popLsb(Bitboard& b) {
    Square s = lsb(b);
    b &= b - 1;
    return s;
}
constexpr bool moreThanOne(Bitboard b) {
    return (b & (b - 1)) != 0;
}

// Shifts a whole set one step; bits that would wrap round a board edge are dropped.
constexpr Bitboard shiftNorth(Bitboard b) {
    return b << 8;
}
constexpr Bitboard shiftSouth(Bitboard b) {
    return b >> 8;
}
constexpr Bitboard shiftEast(Bitboard b) {
    return (b & ~fileBB(7)) << 1;
}
constexpr Bitboard shiftWest(Bitboard b) {
    return (b & ~fileBB(0)) >> 1;
}

namespace detail {

// Squares reached from s by the given (file, rank) steps, staying on the board.
template <size_t N>
constexpr Bitboard leaperAttacks(Square s, const int (&steps)[N][2]) {
    Bitboard result = 0;
    for (size_t i = 0; i < N; i++) {
        int f = fileOf(s) + steps[i][0], r = rankOf(s) + steps[i][1];
        if (f >= 0 && f < 8 && r >= 0 && r < 8) result |= squareBB(makeSquare(f, r));
    }
    return result;
}

template <size_t N>
constexpr std::array<Bitboard, 64> leaperTable(const int (&steps)[N][2]) {
    std::array<Bitboard, 64> table{};
    for (Square s = 0; s < 64; s++) table[s] = leaperAttacks(s, steps);
    return table;
}

constexpr int KnightSteps[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int KingSteps[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
constexpr int PawnSteps[2][2][2] = {{{-1, 1}, {1, 1}}, {{-1, -1}, {1, -1}}};

// Squares strictly between a and b when they share a rank, file or diagonal.
constexpr Bitboard betweenSquares(Square a, Square b) {
    int df = fileOf(b) - fileOf(a), dr = rankOf(b) - rankOf(a);
    if (a == b || !(df == 0 || dr == 0 || df == dr || df == -dr)) return 0;
    int sf = (df > 0) - (df < 0), sr = (dr > 0) - (dr < 0);
    Bitboard result = 0;
    for (int f = fileOf(a) + sf, r = rankOf(a) + sr; makeSquare(f, r) != b; f += sf, r += sr)
        result |= squareBB(makeSquare(f, r));
    return result;
}

constexpr std::array<std::array<Bitboard, 64>, 64> betweenTable() {
    std::array<std::array<Bitboard, 64>, 64> table{};
    for (Square a = 0; a < 64; a++)
        for (Square b = 0; b < 64; b++) table[a][b] = betweenSquares(a, b);
    return table;
}

}  // namespace detail

// Fixed attack tables, computed at compile time.
inline constexpr std::array<Bitboard, 64> KnightAttacks = detail::leaperTable(detail::KnightSteps);
inline constexpr std::array<Bitboard, 64> KingAttacks = detail::leaperTable(detail::KingSteps);
inline constexpr std::array<Bitboard, 64> PawnAttacks[2] = {detail::leaperTable(detail::PawnSteps[0]),
                                                            detail::leaperTable(detail::PawnSteps[1])};
inline constexpr std::array<std::array<Bitboard, 64>, 64> Between = detail::betweenTable();

// Empty-board rays and the adjacent-file masks used by the evaluation; built at
// start-up by initRayTables().
extern Bitboard RookRays[64];
extern Bitboard BishopRays[64];
extern Bitboard QueenRays[64];
extern Bitboard AdjacentFilesUp[64];
extern Bitboard AdjacentFilesDown[64];

void initRayTables();

// Pawn push direction, second rank and seventh rank, per colour.
constexpr int PawnPush[2] = {8, -8};
constexpr Bitboard SecondRank[2] = {rankBB(1), rankBB(6)};
constexpr Bitboard SeventhRank[2] = {rankBB(6), rankBB(1)};
constexpr Bitboard LastRanks = rankBB(0) | rankBB(7);

// King destination of each castling right (white OO, white OOO, black OO, black OOO).
constexpr Square CastleKingTo[4] = {G1, C1, G8, C8};
constexpr Square CastleRookTo[4] = {F1, D1, F8, D8};
