// The node searches of the alpha-beta search: searchPV for nodes on the
// principal variation (a full window) and searchNonPV for all others (a null
// window). The root search calls them for its moves; both hand over to the
// quiescence search where the depth runs out.
//
// Depths are in half plies (one ply = 2 units). A node at ply p makes its
// children in the owning thread's plyStack[p + 1]; the caller must not keep
// anything it still needs there. Each searched position must carry a valid
// `checkers` field (making a move leaves it to the search).
#pragma once

#include "board/position.h"
#include "eval/score.h"

// Searches pos with the window (alpha, beta) to `depth` at distance `ply`
// from the root and fills pv (PV_BUFFER_SIZE moves, 0-terminated) with the
// principal variation. Returns 0 when the search is stopped.
Score searchPV(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv);

// Searches pos with the null window (beta - 1, beta). excludedMove (0 for
// none) is left out, for the singular-extension test; noNull forbids the null
// move and ProbCut; cutNode says the node is expected to fail high;
// parentReduction is the reduction (half plies) the parent applied to reach
// it. Returns 0 when the search is stopped.
Score searchNonPV(Position& pos, Score beta, int depth, int ply, Move* pv, Move excludedMove, bool noNull,
                  bool cutNode, int parentReduction);

// The full-window search that values the leaves of the Monte-Carlo tree
// (and the root once before a Monte-Carlo search): like searchPV, but it
// takes table cut-offs, prunes no move, makes no internal reduction or
// singular extension and reduces late moves by simpler rules. Fills pv;
// returns 0 when the search is stopped.
Score windowSearch(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv);
