// Evaluators for a few endings whose value depends on where the pieces
// stand, not only on what is on the board. The special material table names
// them for their material configurations.
//
// Each returns a value in material-row units (the material evaluation
// multiplies by 96) from White's point of view and sets *scale (to 0.0 unless
// stated). The strong side is the side that owns the pieces; when it is
// Black, the board is mirrored top to bottom and the sign is turned.
#pragma once

#include <cstdint>

#include "board/position.h"

using EndgameEvaluator = int32_t (*)(const Position& pos, float* scale);

// King, bishop and knight against king: drive the king to a corner of the
// bishop's colour.
int32_t evaluateKbnk(const Position& pos, float* scale);

// King, knight and pawn against king.
int32_t evaluateKnpk(const Position& pos, float* scale);

// King and pawn against king, from the win/draw bitbase.
int32_t evaluateKpk(const Position& pos, float* scale);

// King, rook and pawn against king and rook: sets the scale as well, lowest
// for the book draws with the defending king in front of the pawn.
int32_t evaluateKrpkr(const Position& pos, float* scale);
