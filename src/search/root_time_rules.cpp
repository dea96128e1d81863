#include "search/root_time_rules.h"

#include <cstdlib>

#include "core/options.h"
#include "platform/clock.h"
#include "search/search_session.h"
#include "search/search_thread.h"

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
