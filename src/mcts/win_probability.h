// Scores and win probabilities. The tree averages results as probabilities
// between 0 and 1; the leaf searches and the reports speak in the search's
// score units. A score of 130 is worth three chances in four.
#pragma once

#include <algorithm>
#include <cmath>

#include "eval/score.h"

constexpr double PROBABILITY_SCALE = 130.0;

// The win probability of a score (side to move's view): 0 -> 0.5, +-130 ->
// 0.75 / 0.25, mates -> nearly 1 or 0.
inline double probabilityFromScore(double score) {
    return 0.5 + std::atan(score / PROBABILITY_SCALE) / M_PI;
}

// Back to a score, truncated and held inside the evaluation range (the
// tangent runs off to infinity at the ends).
inline Score scoreFromProbability(double p) {
    double score = PROBABILITY_SCALE * std::tan(p * 3.14159 - 1.570795);
    return Score(std::clamp(score, double(-EVAL_LIMIT), double(EVAL_LIMIT)));
}
