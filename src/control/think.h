// The think driver: turns one "go" into a "bestmove" line. It prepares the
// per-search settings and the root move list, runs iterative deepening with
// the aspiration loop on the calling thread (thread 0), decides after every
// iteration whether to stop, waits while pondering or in an infinite search,
// and prints the result.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "search/root_search.h"
#include "search/search_session.h"

// Saves what must outlive the process and releases the engine before a
// "quit" that arrived during the search ends the program. The command loop
// registers it at start-up (installEngineHooks).
extern void (*shutDownBeforeExit)();

// Searches `root` and prints "bestmove". targetTime and maxTime are seconds
// (NO_TIME_LIMIT for none), depthLimit the last iteration (99 = none),
// searchMovesText the "searchmoves" texts each followed by a blank (empty =
// all moves), infinite whether "go" said "infinite". Runs synchronously;
// commands that arrive meanwhile are carried out from inside the search.
void think(const Position& root, double targetTime, int32_t depthLimit, const char* searchMovesText,
           double maxTime, bool infinite);
