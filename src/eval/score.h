// Scores and score pairs.
#pragma once

#include <cstdint>

// A score from the side to move's point of view, about 114 per pawn.
using Score = int32_t;

constexpr Score MATE_SCORE = 32000;  // mate at ply p scores p - 32000
constexpr Score MATE_BOUND = 31800;  // at or beyond: a mate score
constexpr Score SCORE_NONE = 32001;  // no value
constexpr Score EVAL_LIMIT = 25000;  // static evaluations stay within +-EVAL_LIMIT

// Two 32-bit values in one signed 64-bit integer (high * 2^32 + low, low
// sign-extended), so that pairs add and subtract as plain integers. The
// evaluation interpolates a pair by game phase.
using ScorePair = int64_t;

constexpr ScorePair makeScorePair(int32_t high, int32_t low) {
    return ScorePair(high) * (int64_t(1) << 32) + low;
}
constexpr int32_t pairLow(ScorePair p) {
    return int32_t(uint32_t(uint64_t(p)));
}
constexpr int32_t pairHigh(ScorePair p) {
    return int32_t((p + (int64_t(1) << 31)) >> 32);
}
