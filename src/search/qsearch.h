// The quiescence search: resolves captures (and, at its first ply, quiet
// checks) below the horizon of the node searches, so that no leaf is valued
// in the middle of an exchange.
#pragma once

#include "board/position.h"
#include "eval/score.h"

// Searches pos with the window (alpha, beta) at quiescence depth `depth` (0 at
// the first quiescence ply, then -2, -4, ...) and distance `ply` from the
// root. Fills pv (PV_BUFFER_SIZE moves) with the principal variation, except
// in a null window, where only its first move is kept. Children are made in
// the owning thread's plyStack[ply + 1]. Returns 0 when the search is stopped.
Score qsearch(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv);
