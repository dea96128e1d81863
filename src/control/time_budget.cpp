#include "control/time_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "control/think.h"
#include "core/options.h"
#include "core/output.h"
#include "platform/clock.h"
#include "search/search_session.h"
#include "search/search_thread.h"

// ---------------------------------------------------------------------------
// The budget

// A ponder search gets its answer's time twice: the opponent's thinking time
// and then ours, so a "go ponder" and the "go" after it may aim higher.
static bool ponderBonusApplies() {
    return ponderCounter > 0;
}

// With "movestogo" the clock is shared evenly among the moves to the control,
// keeping two in reserve. Late in the game (past ply 77) the share grows with
// the number of moves left: close to the control every move gets its even
// share, far from it up to twice that, since a long control early on is
// rarely used up. The Monte-Carlo search converges slower and takes more.
// The maximum keeps a tenth of the clock and the front-end's lag back.
static TimeBudget budgetWithMovesToGo(double myTime, int32_t movesToGo, int32_t gamePly) {
    int32_t threads = activeThreads;
    double base = myTime / (movesToGo + 2);
    double factor = 1.2;
    if (gamePly > 77) factor = movesToGo <= 40 ? std::pow(2.0, std::pow(0.025 * movesToGo, 3.75)) : 2.0;
    double x = base * factor;
    x *= useMCTS ? 1.55 : 1.1;
    if (ponderBonusApplies()) x *= 1.33;
    double target = std::max(0.005, x * (1 + 0.01 * timeUsage) - 0.001 * (threads + overheadMs));
    double maxTime = std::max(0.004, 0.9 * (myTime - 0.01 - 0.002 * overheadMs - 0.001 * threads));
    return {target, maxTime};
}

// Sudden death: a share of the clock (less the increment and half a second
// of reserve) that grows slowly with the game ply, since early moves can lean
// on the opening knowledge of the search, plus a little more than the
// increment. Never more than nine tenths of the clock; the thread count and
// "Overhead ms" come off in whole milliseconds.
static TimeBudget budgetSuddenDeath(double myTime, double myInc, int32_t gamePly) {
    int32_t threads = activeThreads;
    double a = std::max(0.0, myTime - myInc - 0.5);
    double k = 0.0044 * std::sqrt(double(gamePly + 3)) + 0.011;
    double y = k * a * (100 + timeUsage) * (ponderBonusApplies() ? 0.013 : 0.01);
    if (useMCTS) y *= 2.5;
    y += myInc * (useMCTS ? 1.25 : 1.28);
    y = std::min(0.9 * myTime, y);
    double ms = std::trunc(1000 * y) - threads - overheadMs;
    double target = std::max(0.004, 0.001 * ms);
    // When the lag is larger than the increment even the floor is halved.
    double floor = 0.001 * overheadMs > myInc ? 0.002 : 0.004;
    double maxTime = std::max(floor, 0.9 * (myTime - 0.002 * overheadMs - 0.001 * threads) - 0.009);
    return {target, maxTime};
}

TimeBudget computeTimeBudget(double myTime, double myInc, int32_t movesToGo, int32_t gamePly) {
    if (movesToGo > 0) return budgetWithMovesToGo(myTime, movesToGo, gamePly);
    return budgetSuddenDeath(myTime, myInc, gamePly);
}

// ---------------------------------------------------------------------------
// Deadlines

// Below full strength no search takes longer than this, in seconds.
constexpr double WEAK_LEVEL_HARD_LIMIT = 5.0;

// The hard limit allows four to five times the target (more early in the
// game, when the position is rich), but never beyond the maximum. The soft
// limit starts at three quarters of the target and moves after every
// iteration. A "movetime" search has one limit for everything.
void setupDeadlines(double targetTime, double maxTime, int32_t gamePly, int32_t skillLevel) {
    double start = searchStartTime;
    double hardFactor = std::max(400, 500 - gamePly / 2) / 100.0;
    hardLimit = start + std::min(maxTime, targetTime * hardFactor);
    softLimit = start + 0.75 * targetTime;
    extendLimit = start + 3 * targetTime;
    failHighLimit = start + 2 * targetTime;
    stableLimit = start + 1.5 * targetTime;
    decisiveLimit = start + 0.075 * targetTime;
    mctsCheckpoint = start + 0.25 * targetTime;
    if (moveTimeLimit != 0) hardLimit = softLimit = decisiveLimit = start + targetTime;
    if (skillLevel < FULL_STRENGTH_LEVEL) hardLimit = std::min(hardLimit, start + WEAK_LEVEL_HARD_LIMIT);

    timeUp = false;
    failLowPending = failLowCancelled = failLowSeen = false;
    instability = 0;
    instabilityWeight = 0.75;
    currentRootMoveNumber = 0;
}

// ---------------------------------------------------------------------------
// After each iteration

// Scores at or beyond this are decisive (a mate or a tablebase result).
constexpr int32_t DECISIVE_SCORE = 25000;
// Targets above this are "no clock" (depth, infinite and node searches).
constexpr double CLOCK_TARGET_LIMIT = 31000000.0;

// The factor is x / 700 with x = 642 less the phase (a full board needs the
// time less than an endgame where one move decides), plus 71 for a small
// edge that might still be converted, plus 118 after a fail low, less 2.4
// per unit the score rose since the last iteration (and plus as much when it
// fell). It lies between 408 and 776 sevenhundredths; a clearly worse
// position always takes the smallest share, there is little to save. Best-move
// changes raise it; a long-settled best move lowers it further.
double easyFactor(int32_t iteration, int32_t score, int32_t previousScore, int32_t rootPhase, bool failedLow,
                  double bestMoveInstability) {
    double delta = iteration < 2 ? 0 : double(score - previousScore);
    int32_t magnitude = std::abs(score);
    int32_t bonus = magnitude >= 31 && magnitude <= 89 ? 71 : 0;
    double x = 642 + bonus - rootPhase + 118 * (failedLow ? 1 : 0) - 2.4 * delta;
    x = std::min(x, 776.0);
    double factor = score >= -250 && x >= 408 ? x / 700 : 408.0 / 700;
    factor *= 1 + bestMoveInstability;
    if (iteration > 10 && bestMoveInstability < 0.001) factor *= 0.58;
    return factor;
}

void afterIteration(int32_t iteration, int32_t score, int32_t previousScore, int32_t bestScore,
                    int32_t rootPhase, double targetTime, int32_t rootMoveCount, bool stopped) {
    if (moveTimeLimit == 0) {
        double factor = easyFactor(iteration, score, previousScore, rootPhase, failLowSeen, instability);
        if (!stopped) softLimit = searchStartTime + factor * targetTime;
        logLine("easy: %12.2f\n", factor);
    }
    double now = elapsedSeconds();
    if (now > softLimit) timeUp = true;
    if (std::abs(bestScore) >= DECISIVE_SCORE && now > decisiveLimit) timeUp = true;
    // With one legal move there is nothing to decide: a few iterations give
    // a ponder move and a score to show, then the move is played.
    if (targetTime <= CLOCK_TARGET_LIMIT && iteration >= 5 && rootMoveCount <= 1) timeUp = true;
}
