// How long one move may take: the budget a clock "go" gets, the deadlines of
// the running search and the flags that the stop rules share.
//
// Three layers, all in seconds: the budget (a target and a maximum) that the
// command loop computes from the "go" clock; the absolute deadlines that the
// think driver derives from it when the search starts; and the stop rules
// that run after each iteration, inside thread 0's aspiration loop and in
// the periodic check.
#pragma once

#include <cstdint>

#include "search/root_time_rules.h"
#include "search/search_session.h"

// "No limit": 366 days, in seconds.
constexpr double NO_TIME_LIMIT = 31622400.0;

// The level at which the engine plays at full strength; below it the hard
// limit is capped at a few seconds.
constexpr int32_t FULL_STRENGTH_LEVEL = 35;

struct TimeBudget {
    double targetTime;  // what the search aims to use, seconds
    double maxTime;     // never more than this, seconds
};

// The budget of a clock search from the mover's time and increment (seconds),
// the moves to the next time control (0 = sudden death) and the game ply.
// Also reads "Overhead ms", "Time Usage", "Use MCTS", the running thread
// count and whether this "go" (or the one before) was a ponder search.
TimeBudget computeTimeBudget(double myTime, double myInc, int32_t movesToGo, int32_t gamePly);

// Sets every deadline from the budget, counting from searchStartTime, and
// resets the flags. gamePly is the root's game ply; skillLevel the strength
// level of this search (below full strength the hard limit is five seconds).
void setupDeadlines(double targetTime, double maxTime, int32_t gamePly,
                    int32_t skillLevel = FULL_STRENGTH_LEVEL);

// The share of the target that the search should use after iteration
// `iteration`, from its score, the previous iteration's score, the root's
// material phase, whether the iteration failed low and the best-move
// instability. A steady, level position needs less; a falling score, a fail
// low or a restless best move ask for more.
double easyFactor(int32_t iteration, int32_t score, int32_t previousScore, int32_t rootPhase, bool failedLow,
                  double bestMoveInstability);

// The time rules after iteration `iteration`: outside "movetime" searches it
// moves the soft limit by the easy factor (unless thread 0 was stopped), then
// sets timeUp when the soft limit has passed, when a decisive best score has
// been found after a short time, or when a clock search has only one move.
// score is thread 0's score of the iteration, previousScore that of the
// iteration before, bestScore the best line's score.
void afterIteration(int32_t iteration, int32_t score, int32_t previousScore, int32_t bestScore,
                    int32_t rootPhase, double targetTime, int32_t rootMoveCount, bool stopped);
