// The hand-written evaluation, used when "Use Regular Eval" is on.
#pragma once

#include <cstdint>

#include "eval/score.h"

struct Position;

// Static evaluation from the side to move's point of view. Sets *lazy to 1
// when it returns an estimate outside (alpha, beta), else 0.
Score regularEvaluate(Position& pos, Score alpha, Score beta, uint8_t* lazy);
