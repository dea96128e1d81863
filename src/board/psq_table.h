// Piece-square values (material included) that positions keep summed in
// psqScore, as ScorePairs from White's point of view. The evaluation weights
// fill the table (initMaterialWeights); before that every entry is 0.
#pragma once

#include <cstdint>

extern int64_t PsqTable[16][64];  // [Piece][Square]
