// The "info" lines of the alpha-beta search: score and move texts, the
// principal-variation line the root search prints on every new best move,
// the multi-PV lines of the think driver, and their copies in the log file.
#pragma once

#include <cstdint>

#include "board/types.h"
#include "eval/score.h"

// How a reported score bounds the true value: exact, a lower bound (the
// search failed high) or an upper bound (it failed low).
enum PvBound : int { PV_EXACT = 0, PV_LOWER_BOUND = 1, PV_UPPER_BOUND = 2 };

// Longest principal variation that is printed.
constexpr int MAX_PV_MOVES = 64;

// Buffer sizes that always hold the texts below.
constexpr int SCORE_TEXT_SIZE = 40;
constexpr int PV_TEXT_SIZE = MAX_PV_MOVES * 6 + 1;

// The score as UCI shows it ("cp 60", "mate -3", with " lowerbound" or
// " upperbound" for a bound). Returns the number printed after "cp" or
// "mate", which the log copy shows.
int32_t formatScore(Score score, char* text, PvBound bound);

// The moves of a zero-terminated pv (at most MAX_PV_MOVES) in UCI text,
// separated by single blanks.
void formatPv(const Move* pv, char* text);

// Sum of the node counters of all search threads (read without locks).
uint64_t totalSearchNodes();

// Seconds since the search started, at least a millisecond.
double searchElapsedSeconds();

// "info depth ... pv ..." for a new best move at the root (depth in plies;
// nothing is printed for depth 0), and its copy in the log file.
void printPvLine(int depth, Score score, const Move* pv, PvBound bound);

// "info multipv N depth ... pv ..." for one line of a multi-PV iteration.
void printMultiPvLine(int lineNumber, int depth, Score score, const Move* pv);

// Tablebase hits of the running search, for other reports.
uint64_t searchTablebaseHits();
