// The think driver: turns one "go" into a "bestmove" line. It prepares the
// per-search settings and the root move list, runs iterative deepening with
// the aspiration loop on the calling thread (thread 0), decides after every
// iteration whether to stop, waits while pondering or in an infinite search,
// and prints the result.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/root_search.h"

// Set by the benchmark: searches print no "info" and no "bestmove" lines.
extern bool quietSearch;
// The effective analysis flag of this search: "UCI_AnalyseMode", or forced on
// for an infinite search (no time target and no depth limit).
extern bool analysisActive;

// The root of the current search and its move list, as handed to every
// search thread at its start.
extern Position rootPosition;
extern RootMove rootMoves[MAX_ROOT_MOVES + 1];
extern int32_t rootMoveCount;

// Text of the current best move and of the reply we expect ("0000" = none;
// the ponder text is empty until an iteration has given a best move).
extern char bestMoveText[6];
extern char ponderMoveText[6];

// The best move of the last search and its score from the root side's view
// (the score of the last iteration that gave a best move; SCORE_NONE when no
// iteration did), for callers that search without reading "bestmove".
extern Move resultMove;
extern Score resultScore;

// Searches `root` and prints "bestmove". targetTime and maxTime are seconds
// (NO_TIME_LIMIT for none), depthLimit the last iteration (99 = none),
// searchMovesText the "searchmoves" texts each followed by a blank (empty =
// all moves), infinite whether "go" said "infinite". Runs synchronously;
// commands that arrive meanwhile are carried out from inside the search.
void think(const Position& root, double targetTime, int32_t depthLimit, const char* searchMovesText,
           double maxTime, bool infinite);
