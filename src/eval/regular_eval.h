// The hand-written evaluation, used when "Use Regular Eval" is on: material,
// the pawn structure (cached in the thread's pawn hash), piece terms, and a
// final assembly of scale factors and corrections.
#pragma once

#include <cstdint>

#include "eval/score.h"

struct Position;
struct EvalTrace;
struct AssemblyInputs;

// Static evaluation from the side to move's point of view. Sets *lazy to 1
// when it returns an estimate outside (alpha, beta), else 0.
Score regularEvaluate(Position& pos, Score alpha, Score beta, uint8_t* lazy);

// The final assembly: from the pawn pair (after 97/100), the piece pair
// (before the dynamism factors), the late-phase pair and the contempt pair
// to the side to move's score. Writes the phase-interpolated positional value
// to *positional when given. Shared with the tuner, which fits the pairs.
Score assembleRegular(const AssemblyInputs& in, ScorePair pawns, ScorePair pieces, ScorePair late,
                      ScorePair contempt, int32_t* positional);

// The assembly's steps after the phase interpolation: scales, rounding,
// wrong bishop, tempo, damping, from the positional value v (1/960 units).
Score assembleFromPositional(const AssemblyInputs& in, int32_t v, ScorePair contempt);

// A full evaluation (no lazy exit, no pawn hash) that records in `trace` which
// weights it counted. False, with nothing recorded, for a known result.
bool traceRegularEvaluate(Position& pos, EvalTrace& trace, Score* value);
