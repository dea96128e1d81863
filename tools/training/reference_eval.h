// An integer evaluation of a quantised network written straight from the
// inference rules, sharing no code with the engine's inference: features from
// its own index formula, full sums for both perspectives, the clamps and the
// (a * b) >> 7 products, the first layer in 32-bit integers, the float layers
// after it, and the truncations. It is the oracle that the engine's inference
// and the float model are checked against.
#pragma once

#include <cstdint>

#include "training/network_export.h"

struct ReferenceEvaluation {
    int32_t raw = 0;         // the network output n, side to move's view
    int32_t psqtPart = 0;    // (Q_us - Q_them) / 2, before the final / 16
    int32_t positional = 0;  // the layer stack's result, before the final / 16
    int bucket = 0;
};

// Evaluates a board (piece codes colour * 8 + type, 0 empty, a1 = 0) with
// `sideToMove` (0 White, 1 Black) to move. The board must hold one king a side.
ReferenceEvaluation referenceEvaluate(const NetworkImage& net, const int board[64], int sideToMove);
