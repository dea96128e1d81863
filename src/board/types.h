// Basic chess types shared by every subsystem: squares, colours, pieces,
// bitboards and the 16-bit move encoding.
#pragma once

#include <cstdint>

using Bitboard = uint64_t;
using Key = uint64_t;

// a1 = 0, b1 = 1, ..., h8 = 63 (file + 8 * rank).
using Square = int;
constexpr Square SQ_NONE = 64;

enum Color : int { WHITE = 0, BLACK = 1 };

enum PieceType : int { NO_PIECE_TYPE = 0, PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };

// Mailbox code: colour * 8 + type. White 1..6, black 9..14, 0 = empty.
using Piece = int;
constexpr Piece NO_PIECE = 0;

// Move: destination in bits 0-5 (the rook's square for castling), origin in
// bits 6-11, kind in bits 12-15. 0 is "no move" and also the null move.
using Move = uint16_t;
constexpr Move MOVE_NONE = 0;

enum MoveKind : int {
    NORMAL = 0,
    DOUBLE_PUSH = 1,
    EN_PASSANT = 2,
    CASTLING = 3,
    PROMO_QUEEN = 4,
    PROMO_KNIGHT = 5,
    PROMO_ROOK = 6,
    PROMO_BISHOP = 7
};

// Move list slot: the move in the low half, a signed ordering key in the high half.
struct MoveEntry {
    Move move;
    int16_t key;
};
static_assert(sizeof(MoveEntry) == 4);

// Enough for any pseudo-legal move list (the legal maximum is 218).
constexpr int MAX_MOVES = 256;

// Castling rights, as bits of the "lost" byte and as indices 0..3.
enum CastlingRight : int { WHITE_OO = 0, WHITE_OOO = 1, BLACK_OO = 2, BLACK_OOO = 3 };

constexpr Color operator~(Color c) {
    return Color(c ^ 1);
}

constexpr int fileOf(Square s) {
    return s & 7;
}
constexpr int rankOf(Square s) {
    return s >> 3;
}
constexpr Square makeSquare(int file, int rank) {
    return file + 8 * rank;
}
// Rank as seen from colour c (rank 0 = own back rank).
constexpr int relativeRank(Color c, Square s) {
    return c == WHITE ? rankOf(s) : 7 - rankOf(s);
}
// a1 is dark; dark squares have an even file + rank. Returns 1 for dark.
constexpr int squareColor(Square s) {
    return ((fileOf(s) + rankOf(s)) & 1) == 0 ? 1 : 0;
}

constexpr Piece makePiece(Color c, PieceType t) {
    return c * 8 + t;
}
constexpr PieceType typeOf(Piece p) {
    return PieceType(p & 7);
}
constexpr Color colorOf(Piece p) {
    return Color(p >> 3);
}

constexpr Square moveTo(Move m) {
    return m & 63;
}
constexpr Square moveFrom(Move m) {
    return (m >> 6) & 63;
}
constexpr MoveKind moveKind(Move m) {
    return MoveKind(m >> 12);
}
constexpr bool isPromotion(Move m) {
    return m >= 16384;
}
constexpr Move encodeMove(Square from, Square to, MoveKind kind = NORMAL) {
    return Move(to | (from << 6) | (kind << 12));
}

// Promotion kinds 4..7 map to queen, knight, rook, bishop.
constexpr PieceType promotionType(Move m) {
    constexpr PieceType types[4] = {QUEEN, KNIGHT, ROOK, BISHOP};
    return types[(moveKind(m) - PROMO_QUEEN) & 3];
}

// Squares by name, for readability in tables and tests.
enum SquareName : int {
    A1,
    B1,
    C1,
    D1,
    E1,
    F1,
    G1,
    H1,
    A2,
    B2,
    C2,
    D2,
    E2,
    F2,
    G2,
    H2,
    A3,
    B3,
    C3,
    D3,
    E3,
    F3,
    G3,
    H3,
    A4,
    B4,
    C4,
    D4,
    E4,
    F4,
    G4,
    H4,
    A5,
    B5,
    C5,
    D5,
    E5,
    F5,
    G5,
    H5,
    A6,
    B6,
    C6,
    D6,
    E6,
    F6,
    G6,
    H6,
    A7,
    B7,
    C7,
    D7,
    E7,
    F7,
    G7,
    H7,
    A8,
    B8,
    C8,
    D8,
    E8,
    F8,
    G8,
    H8
};
