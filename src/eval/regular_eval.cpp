#include "eval/regular_eval.h"

#include "board/position.h"
#include "eval/material.h"

// The hand-written evaluation is the material evaluation alone
// (evaluateMaterial), from the side to move's view.
Score regularEvaluate(Position& pos, Score, Score, uint8_t* lazy) {
    if (lazy) *lazy = 0;
    float scale = 0.0f;
    int32_t material = evaluateMaterial(pos, &scale);
    Score v = material / 960;
    return pos.sideToMove() == WHITE ? v : -v;
}
