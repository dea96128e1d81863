// The network's input features: king bucket x piece x square, seen from one
// side ("perspective") and mirrored so that this side's king always stands on
// the e-h files.
//
// Each perspective looks at the board from its own back rank (Black's view is
// flipped vertically) and, when its king is on the a-d files, also flipped
// horizontally. The oriented king square picks one of 32 buckets of 704
// features: 11 piece kinds (own and enemy pawn..queen, and one shared kind for
// both kings) on 64 squares.
#pragma once

#include <array>

#include "board/types.h"

constexpr int FEATURES_PER_KING_BUCKET = 704;

// King bucket by oriented king square (rank 1 first). Only the e-h files are
// ever looked up; the a-d files repeat them mirrored so the table is total.
inline constexpr std::array<int, 64> KingBucket = {
    28, 29, 30, 31, 31, 30, 29, 28,  // rank 1
    24, 25, 26, 27, 27, 26, 25, 24,  // rank 2
    20, 21, 22, 23, 23, 22, 21, 20,  // rank 3
    16, 17, 18, 19, 19, 18, 17, 16,  // rank 4
    12, 13, 14, 15, 15, 14, 13, 12,  // rank 5
    8,  9,  10, 11, 11, 10, 9,  8,   // rank 6
    4,  5,  6,  7,  7,  6,  5,  4,   // rank 7
    0,  1,  2,  3,  3,  2,  1,  0,   // rank 8
};

// Offset of a piece's 64 squares inside a king bucket, by perspective and
// piece code (colour * 8 + type). Own pieces come first in each pair; both
// kings share the last block.
inline constexpr int PieceOffset[2][16] = {
    // White's view: white pieces 1..6 are own, black pieces 9..14 the enemy's.
    {0, 0, 128, 256, 384, 512, 640, 0, 0, 64, 192, 320, 448, 576, 640, 0},
    // Black's view: the other way round.
    {0, 64, 192, 320, 448, 576, 640, 0, 0, 0, 128, 256, 384, 512, 640, 0},
};

// The square transformation for one perspective: XOR a square with it to see
// the board the way the network was trained. Black flips the ranks (56); a
// king on the a-d files flips the files (7).
constexpr int orientation(Color perspective, Square ownKing) {
    return (fileOf(ownKing) < 4 ? 7 : 0) ^ (perspective == BLACK ? 56 : 0);
}

// The input feature of `piece` on `square` for `perspective`, whose king
// stands on `ownKing`.
constexpr int featureIndex(Color perspective, Square ownKing, Piece piece, Square square) {
    int orient = orientation(perspective, ownKing);
    return FEATURES_PER_KING_BUCKET * KingBucket[ownKing ^ orient] + PieceOffset[perspective][piece] +
           (square ^ orient);
}
