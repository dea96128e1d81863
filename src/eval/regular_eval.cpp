#include "eval/regular_eval.h"

#include "board/position.h"
#include "eval/material.h"

// Until the full hand-written evaluation (pawn structure, mobility, king
// safety) is in place, this is the material evaluation alone.
Score regularEvaluate(Position& pos, Score, Score, uint8_t* lazy) {
    if (lazy) *lazy = 0;
    float scale = 0.0f;
    int32_t material = evaluateMaterial(pos, &scale);
    Score v = material / 960;
    return pos.sideToMove() == WHITE ? v : -v;
}
