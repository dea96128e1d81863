// The material evaluation: a value and a scale from the pieces on the board
// (which, how many, and the square colour of bishops), cached per thread.
#pragma once

#include <cstdint>

#include "board/position.h"

// Returns the material value from White's point of view in 1/960 of a Score
// unit and sets *scale, the factor the evaluations apply to their positional
// terms. The caller presets *scale to 0.0; a scale of exactly 0.0 marks a
// known result (bare kings, the positional endgames) that needs no network.
int32_t evaluateMaterial(const Position& pos, float* scale);
