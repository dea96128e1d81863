#include "control/time_budget.h"

#include <algorithm>
#include <cstdlib>

#include "control/search_globals.h"
#include "control/search_thread.h"
#include "control/think.h"
#include "platform/clock.h"
#include "uci/option_values.h"

double searchStartTime = 0;
double hardLimit = 0;
double softLimit = 0;
double extendLimit = 0;
double failHighLimit = 0;
double stableLimit = 0;
double decisiveLimit = 0;

bool timeUp = false;
bool failLowPending = false;
bool failLowCancelled = false;
bool failLowSeen = false;
double instability = 0;
double instabilityWeight = 0.75;
int32_t currentRootMoveNumber = 0;

// A fortieth of the clock (or an even share of it up to the next time
// control, keeping two moves in reserve) plus most of the increment, less the
// front-end's overhead. The maximum keeps a tenth of the clock back so that a
// long search can never lose on time by itself.
TimeBudget computeTimeBudget(double myTime, double myInc, int32_t movesToGo, int32_t gamePly) {
    (void)gamePly;
    double overhead = 0.001 * overheadMs;
    double maxTime = std::max(0.004, 0.9 * (myTime - 2 * overhead));
    double share = movesToGo > 0 ? myTime / (movesToGo + 2) : myTime / 40;
    double target = share + 0.8 * myInc - overhead;
    target = std::clamp(target, 0.004, std::max(0.004, 0.5 * maxTime));
    return {target, maxTime};
}

// The hard limit allows four to five times the target (more early in the
// game, when the position is rich), but never beyond the maximum. A
// "movetime" search has one limit for everything.
void setupDeadlines(double targetTime, double maxTime, int32_t gamePly) {
    double start = searchStartTime;
    double hardFactor = std::max(400, 500 - gamePly / 2) / 100.0;
    hardLimit = start + std::min(maxTime, targetTime * hardFactor);
    softLimit = start + 0.75 * targetTime;
    extendLimit = start + 3 * targetTime;
    failHighLimit = start + 2 * targetTime;
    stableLimit = start + 1.5 * targetTime;
    decisiveLimit = start + 0.075 * targetTime;
    if (moveTimeLimit != 0) hardLimit = softLimit = decisiveLimit = start + targetTime;

    timeUp = false;
    failLowPending = failLowCancelled = failLowSeen = false;
    instability = 0;
    instabilityWeight = 0.75;
    currentRootMoveNumber = 0;
}

// Scores at or beyond this are decisive (a mate or a tablebase result).
constexpr int32_t DECISIVE_SCORE = 25000;

void checkTimeAfterIteration(int32_t iteration, int32_t bestScore, double targetTime, int32_t rootMoveCount) {
    double now = elapsedSeconds();
    if (now > softLimit) timeUp = true;
    if (std::abs(bestScore) >= DECISIVE_SCORE && now > decisiveLimit) timeUp = true;
    if (targetTime <= 31000000.0 && iteration >= 5 && rootMoveCount <= 1) timeUp = true;
}

void noteRootFailLow() {
    failLowSeen = true;
    failLowPending = true;
    failLowCancelled = false;
}

// Scores from 390 up already decide the game; no extra time is spent on them.
constexpr int32_t TIME_RELEVANT_SCORE = 390;

// A fail high cancels a pending fail low once, when the recovery looks
// genuine (one thread, not analysing, one line). Past the fail-high limit,
// or the stable limit with an unchanged best move, or the extension limit
// outside analysis, any fail high ends the extra time.
void noteRootFailHigh(int32_t score, bool sameFirstMove) {
    if (std::abs(score) >= TIME_RELEVANT_SCORE || multiPV != 1) return;
    double now = elapsedSeconds();
    bool cancel = activeThreads == 1 && failLowPending && !analysisActive && !failLowCancelled;
    if (!analysisActive && now >= extendLimit) cancel = true;
    if (now >= failHighLimit || (now >= stableLimit && sameFirstMove)) cancel = true;
    if (cancel) {
        failLowCancelled = true;
        failLowPending = false;
    }
}

void noteRootExact() {
    failLowPending = false;
    failLowCancelled = false;
}
