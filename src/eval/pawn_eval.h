// The pawn-structure evaluation of the regular evaluation, cached per thread
// in the pawn hash.
#pragma once

#include "eval/eval_hash_tables.h"
#include "eval/score.h"

struct Position;
struct EvalTrace;

// The pawn-structure pair (White's view) of the position, from the thread's
// pawn hash or computed and stored there; `entry` is the slot that holds it.
ScorePair evaluatePawns(const Position& pos, PawnHashEntry*& entry);

// The same, computed into `entry` without the hash, recording the weights it
// counts in `trace` (for the tuner and the tests).
ScorePair evaluatePawnsTraced(const Position& pos, PawnHashEntry& entry, EvalTrace* trace);

// King distance: the larger of the file and rank distances.
int squareDistance(int a, int b);
