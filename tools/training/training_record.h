// The training record: one self-play position with its search score and the
// game's result, in a fixed 32-byte little-endian layout.
//
//   bytes  0-7   occupancy bitboard (bit s = square s, a1 = bit 0)
//   bytes  8-23  piece codes (colour * 8 + type), 4 bits each, one per set bit
//                of the occupancy in ascending square order; the first piece
//                sits in the low nibble of byte 8
//   bytes 24-25  search score at the root, int16, side to move's view, in the
//                engine's score units (what "info score" reports before the
//                display scaling); never a mate or tablebase score
//   byte  26     game result from the side to move's view: 0 loss, 1 draw, 2 win
//   byte  27     bit 0 side to move (0 White, 1 Black); bit 6 the best move
//                was a capture or promotion; bit 7 the side to move is in check
//   bytes 28-29  game ply of the position (uint16, 0 = the start position)
//   byte  30     material phase of the position (the engine's 0..96 scale)
//   byte  31     generation: which network (or evaluation) played the game
//
// Castling and en-passant rights are left out: the network's features do not
// see them. A data file is a plain sequence of records, written one whole
// game at a time; a file whose length is not a multiple of 32 was cut short
// and its last partial record is ignored (and truncated by the generator).
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/position.h"

constexpr size_t TRAINING_RECORD_BYTES = 32;

constexpr uint8_t RECORD_BLACK_TO_MOVE = 1;
constexpr uint8_t RECORD_NOISY_BEST_MOVE = 1 << 6;
constexpr uint8_t RECORD_IN_CHECK = 1 << 7;

enum RecordResult : uint8_t { RESULT_LOSS = 0, RESULT_DRAW = 1, RESULT_WIN = 2 };

struct TrainingRecord {
    uint64_t occupancy;
    uint8_t pieces[16];
    int16_t score;
    uint8_t result;
    uint8_t flags;
    uint16_t ply;
    uint8_t phase;
    uint8_t generation;

    Color sideToMove() const { return Color(flags & RECORD_BLACK_TO_MOVE); }
    bool inCheck() const { return flags & RECORD_IN_CHECK; }
    bool noisyBestMove() const { return flags & RECORD_NOISY_BEST_MOVE; }
    int pieceCount() const { return __builtin_popcountll(occupancy); }
    // The code of the i-th piece in square order.
    Piece piece(int i) const { return (pieces[i / 2] >> (4 * (i & 1))) & 15; }
};
static_assert(sizeof(TrainingRecord) == TRAINING_RECORD_BYTES, "records are 32 bytes on disk");

// Packs the board of `pos` with its score (side to move's view), result (side
// to move's view), flags and generation.
TrainingRecord packRecord(const Position& pos, int score, RecordResult result, bool noisyBestMove,
                          int generation);

// The 64-square board of a record (NO_PIECE on empty squares). Returns false
// when the record is not a possible board (more than 32 pieces, an unknown
// piece code, or not exactly one king a side).
bool unpackBoard(const TrainingRecord& record, Piece board[64]);

// The FEN of a record's board (no castling or en-passant rights; the ply
// becomes the move number). `out` holds at least 100 bytes. False for a
// record that is not a possible board.
bool recordToFen(const TrainingRecord& record, char* out);
