// What the Monte-Carlo search prints: the progress report every two seconds
// (one line, or one line per root child with "MultiPV"), and the result
// lines before "bestmove". Depth is not a search depth here but a measure
// of the tree's size: about 2.13 per factor e of nodes.
#pragma once

#include <cstdint>

#include "board/types.h"

// The depth shown for a tree of `nodes` nodes.
int treeDepth(int32_t nodes);

// The line of most visited children below node `index` (ties: the earlier
// child), at most `room` - 1 moves, 0-terminated.
void treeLine(int32_t index, Move* line, int room);

// The progress report of the periodic check while a tree search runs; also
// stops the search (thread 0's stop flag) once the shown depth reaches the
// "go depth". Returns false when no tree search runs (the caller then prints
// its own report).
bool reportTreeProgress();

// The result of the tree search: the most visited root child is the best
// move, the best-valued reply in its subtree the expected one. Sets
// bestMoveText, ponderMoveText, resultMove and resultScore, and (unless the
// search is quiet) prints the "info nodes" and "info depth ... pv" lines.
void finishTreeSearch();
