// From the squares of the pieces to the position's number inside one table:
// the table's symmetry normalisation, the numbering of the leading pieces and
// the combinatorial rank of every further group of like pieces. Which pieces
// come in which order, and the weight of each group, is the table's own
// choice, read from its file (table_file.h).
#pragma once

#include <array>
#include <cstdint>

constexpr int MAX_TABLE_PIECES = 7;
// Leading pawns of a table: the side with fewer pawns, at most five of them.
constexpr int MAX_LEADING_PAWNS = 5;

// Binomial[n][k] = C(n, k) for n < 64, k <= MAX_TABLE_PIECES (0 when n < k).
inline constexpr auto Binomial = [] {
    std::array<std::array<uint64_t, MAX_TABLE_PIECES + 1>, 64> c{};
    for (int n = 0; n < 64; n++) {
        c[n][0] = 1;
        for (int k = 1; k <= MAX_TABLE_PIECES; k++) c[n][k] = n == 0 ? 0 : c[n - 1][k - 1] + c[n - 1][k];
    }
    return c;
}();

// Sizes of the pawnless leading-group numberings: two kings that do not touch
// (462 placements up to symmetry), or three pieces each unique in the table.
constexpr uint64_t KK_PLACEMENTS = 462;
constexpr uint64_t TRIPLE_PLACEMENTS = 31332;

// How a table numbers one side-to-move and file group: the piece codes in the
// order the numbering consumes them, the groups they form and the weight of
// each group's number in the whole index.
struct PieceEncoding {
    uint8_t pieces[MAX_TABLE_PIECES];  // codes: type + 8 for the table's second colour
    uint8_t groupStart[MAX_TABLE_PIECES];
    uint8_t groupLength[MAX_TABLE_PIECES];
    uint64_t factor[MAX_TABLE_PIECES];
    uint8_t pieceCount;
    uint8_t groupCount;
    uint8_t leadingPawns;  // 0 for pawnless tables
    uint8_t otherPawns;    // pawns of the second pawn group (0 when none)
    bool kingPairLeads;    // pawnless: the leading group is the two kings
    uint64_t size;         // number of indices
};

// Fills the groups, factors and size of `e` from its piece codes and the
// order numbers read with them (15 = no second pawn group); `fileGroup` is
// the leading pawn's file group for pawn tables. Returns false when the
// orders and groups do not fit together (a damaged file).
bool buildPieceEncoding(PieceEncoding& e, int order, int order2, int fileGroup);

// Flap of a pawn square (ranks 2 to 7): the leading pawn with the smallest
// value fixes the file group, min(file, 7 - file) of that pawn.
int pawnFlap(int square);

// The index of the squares `sq` (one per entry of e.pieces, already oriented
// for the table) under `e`. For pawn tables sq[0] must be the leading pawn
// with the smallest flap. The squares are normalised in place. Returns false
// when the placement has no number (only possible with a damaged file).
bool encodePosition(const PieceEncoding& e, int* sq, uint64_t& index);
