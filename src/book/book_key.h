// The position key of Polyglot opening books.
#pragma once

#include <cstdint>

#include "board/position.h"

// The XOR of the published random numbers for every piece on its square, each
// castling right still held, the en-passant file (only when a pawn of the side
// to move stands beside the pawn that just advanced two squares, which is when
// the position records an en-passant square) and White to move.
uint64_t bookKey(const Position& pos);
