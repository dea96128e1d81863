// The state of the running search: everything one "go" sets up, the search
// threads read, and the next "go" starts afresh. The command loop and the
// think driver write it before the threads start (the stop flags, the
// deadlines' soft limit and thread 0's time flags also change during the
// search); resetSearchState puts the search rules back to full strength.
//
// Options are not here (core/options.h): a search that needs a different
// value for its duration keeps it in a field of this file instead. The
// evaluation's own per-search settings (lazy margin, noise, contempt) sit
// with the evaluation (eval/evaluate.h), below this layer.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/position.h"
#include "eval/score.h"
#include "search/root_search.h"

// ---- Command state ----------------------------------------------------------

extern std::atomic<uint8_t> searching;      // a "go" is being carried out
extern std::atomic<uint8_t> stopRequested;  // "stop" arrived during this search
extern std::atomic<uint8_t> pondering;      // searching in ponder mode until "ponderhit"
// 2 after a "go ponder", then counted down by each "go": a ponder search and
// the one after it may aim for more time.
extern int32_t ponderCounter;
extern double moveTimeLimit;  // "go movetime", seconds; 0 = none
extern int64_t nodeLimit;     // "go nodes"; -1 = none
// A soft node limit for the data generator: iterative deepening ends after
// the iteration in which thread 0 passes it (0 = none). "go" never sets it.
extern int64_t softNodeLimit;

// Set by the benchmark: searches print no "info" and no "bestmove" lines.
extern bool quietSearch;
// This search plays without "Contempt": an infinite search does, unless
// "White Contempt" fixes the contempt to one colour.
extern bool contemptOff;
// The effective analysis flag of this search: "UCI_AnalyseMode", or forced on
// for an infinite search (no time target and no depth limit).
extern bool analysisActive;

// ---- The root ---------------------------------------------------------------

// The root of the current search and its move list, as handed to every
// search thread at its start.
extern Position rootPosition;
extern RootMove rootMoves[MAX_ROOT_MOVES + 1];
extern int32_t rootMoveCount;

// The root's tablebase score for this search (set by the think driver when the
// root probe succeeds); NO_ROOT_TB_SCORE when there is none. While it is set,
// the printed scores show it in place of ordinary search scores.
constexpr int32_t NO_ROOT_TB_SCORE = 2147483647;
extern int32_t rootTbScore;
// The root moves of this search were ranked (and filtered) by the tablebases.
extern bool rootInTablebase;

// ---- Search rules of this search ----------------------------------------------

// What a draw is worth, indexed by the side to move: 0 for both colours, or
// -2000 / +2000 when "Armageddon" makes one side play to win.
extern int32_t drawScoreByColor[2];

// Positions with at most this many pieces are probed in the tablebases during
// the search; 0 when no tables apply (or the root was already answered by them).
extern int32_t tbRootCardinality;

// This search runs the Monte-Carlo tree search; the alpha-beta searches then
// serve it as leaf searches and soften a few of their reductions.
extern bool mctsActive;

// Late quiet moves whose history score (H / 6) is below this are pruned; it is
// lower after a Monte-Carlo search, whose histories run lower.
extern int32_t historyPruneThreshold;

// Below this quiescence depth only recaptures on the last move's square are
// searched. Full strength uses -12; strength limiting raises it.
extern int32_t qsearchDepthLimit;

// Restores the search rules above to those of a full-strength alpha-beta
// search without tablebases or "Armageddon".
void resetSearchState();

// ---- Deadlines and time flags -------------------------------------------------

// Deadlines of the running search, in seconds since program start. Written by
// the think driver before the search starts (setupDeadlines); the soft limit
// may move after each iteration.
extern double searchStartTime;
extern double hardLimit;       // the periodic check stops the search here
extern double softLimit;       // no new iteration after this
extern double extendLimit;     // stop at the first root move unless a fail low is pending
extern double failHighLimit;   // a fail high after this no longer keeps a fail low pending
extern double stableLimit;     // the same, while the best move stays the one of the last iteration
extern double decisiveLimit;   // a decisive score ends the search after this
extern double mctsCheckpoint;  // when the Monte-Carlo search first reviews its progress

// Flags of the running search, written by thread 0 only.
extern bool timeUp;                    // the soft limit has passed: stop unless pondering
extern bool failLowPending;            // the current iteration failed low and has not recovered
extern bool failLowCancelled;          // a fail high in the same iteration cleared the fail low
extern bool failLowSeen;               // some aspiration search of this iteration failed low
extern double instability;             // how often the best move changed lately
extern double instabilityWeight;       // what the next change of best move adds to instability
extern int32_t currentRootMoveNumber;  // 1-based number of the root move thread 0 searches

// The next time (seconds since program start) at which the periodic check
// prints an "info nodes" line. The think driver sets it to two seconds after
// the start.
extern double nextReportTime;

// ---- The result -------------------------------------------------------------

// Text of the current best move and of the reply we expect ("0000" = none;
// the ponder text is empty until an iteration has given a best move).
extern char bestMoveText[6];
extern char ponderMoveText[6];

// The best move of the last search and its score from the root side's view
// (the score of the last iteration that gave a best move; SCORE_NONE when no
// iteration did), for callers that search without reading "bestmove".
extern Move resultMove;
extern Score resultScore;
