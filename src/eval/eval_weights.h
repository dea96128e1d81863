// The material weights that the material evaluation reads: piece values and
// the per-phase scale of its result. They are process-wide tables so that the
// style settings can rewrite them between searches; searches only read them.
#pragma once

#include <cstdint>

// Piece values in tenths of a Score unit, indexed by PieceType (kings and the
// empty type are 0).
extern int32_t PieceValue[7];

// Multiplier of the material scale by game phase 0..96: 0.95 with bare kings
// and pawns rising linearly to 1.15 with all pieces on the board.
extern float materialPhaseScale[97];

// The default-style values of both tables.
constexpr int32_t DEFAULT_PIECE_VALUE[7] = {0, 1141, 4296, 4603, 7743, 15030, 0};

// Fills both tables with the default-style values. Run once at start-up,
// before any evaluation.
void initMaterialWeights();
