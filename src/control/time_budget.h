// How long one move may take: the budget a clock "go" gets, the deadlines of
// the running search and the flags that the stop rules share.
//
// This is the simple first version: a fixed fraction of the clock plus most of
// the increment, and a fixed soft limit. The stop rules read only the values
// declared here, so a finer budget can replace these functions alone.
#pragma once

#include <cstdint>

// "No limit": 366 days, in seconds.
constexpr double NO_TIME_LIMIT = 31622400.0;

struct TimeBudget {
    double targetTime;  // what the search aims to use, seconds
    double maxTime;     // never more than this, seconds
};

// The budget of a clock search from the mover's time and increment (seconds),
// the moves to the next time control (0 = sudden death) and the game ply.
TimeBudget computeTimeBudget(double myTime, double myInc, int32_t movesToGo, int32_t gamePly);

// Deadlines of the running search, in seconds since program start. Written by
// the think driver before the search starts; the soft limit may move after
// each iteration.
extern double searchStartTime;
extern double hardLimit;      // the periodic check stops the search here
extern double softLimit;      // no new iteration after this
extern double extendLimit;    // stop at the first root move unless a fail low is pending
extern double failHighLimit;  // a fail high after this no longer keeps a fail low pending
extern double stableLimit;    // the same, while the best move stays the one of the last iteration
extern double decisiveLimit;  // a decisive score ends the search after this

// Flags of the running search, written by thread 0 only.
extern bool timeUp;                    // the soft limit has passed: stop unless pondering
extern bool failLowPending;            // the current iteration failed low and has not recovered
extern bool failLowCancelled;          // a fail high in the same iteration cleared the fail low
extern bool failLowSeen;               // some aspiration search of this iteration failed low
extern double instability;             // how often the best move changed lately
extern double instabilityWeight;       // what the next change of best move adds to instability
extern int32_t currentRootMoveNumber;  // 1-based number of the root move thread 0 searches

// Sets every deadline from the budget, counting from searchStartTime, and
// resets the flags. gamePly is the root's game ply.
void setupDeadlines(double targetTime, double maxTime, int32_t gamePly);

// The time rules after iteration `iteration` with best score `bestScore`:
// sets timeUp when the soft limit has passed, when a decisive score has been
// found after a short time, or when a clock search has only one move to play.
void checkTimeAfterIteration(int32_t iteration, int32_t bestScore, double targetTime, int32_t rootMoveCount);

// Rules of thread 0's aspiration loop. A fail low keeps the search going past
// the extension limit until the iteration recovers; a fail high, or an exact
// result, ends that. sameFirstMove tells whether the fail high kept the best
// move of the previous iteration.
void noteRootFailLow();
void noteRootFailHigh(int32_t score, bool sameFirstMove);
void noteRootExact();
