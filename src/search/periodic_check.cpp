#include "search/periodic_check.h"

#include <cstdint>

#include "core/engine_state.h"
#include "core/output.h"
#include "platform/clock.h"
#include "search/search_output.h"
#include "search/search_session.h"
#include "search/search_thread.h"

void (*processQueuedInput)() = nullptr;
bool (*reportMonteCarloProgress)() = nullptr;

// Reading the clock and the input queue costs far more than a node, so the
// body runs once per 512 calls.
constexpr uint32_t CHECK_INTERVAL = 512;
// Seconds between two "info nodes" lines.
constexpr double REPORT_INTERVAL = 2.0;

static uint32_t callCounter = 0;

// Thread 0 stops itself; the think driver then stops any workers.
static bool stopMainThread() {
    searchThreads[0]->stop.store(true);
    return true;
}

// The command processor runs queued lines here, so "stop", "ponderhit" and
// "isready" act in the middle of a search (and ends the program once a quit
// is requested). While pondering, no time limit applies: the opponent has
// not moved yet, and "ponderhit" turns the normal limits back on.
bool periodicCheck() {
    if (++callCounter % CHECK_INTERVAL != 0) return false;

    if (processQueuedInput) processQueuedInput();
    if (quitRequested.load()) stopAllThreads();

    bool ponder = pondering.load() != 0;
    if (searchThreads[0]->stop.load() && !ponder) return true;
    if (timeUp && !ponder) return stopMainThread();

    double now = elapsedSeconds();
    if (!ponder) {
        if (now >= hardLimit) return stopMainThread();
        if (now >= extendLimit && currentRootMoveNumber == 1 && !failLowPending) return stopMainThread();
    }
    if (now > nextReportTime) {
        nextReportTime = now + REPORT_INTERVAL;
        bool treeReported = mctsActive && reportMonteCarloProgress && reportMonteCarloProgress();
        if (!treeReported && !quietSearch)
            printOut("info nodes %llu\n", (unsigned long long)totalSearchNodes());
    }
    return false;
}
