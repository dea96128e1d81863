#include "search/search_thread.h"

#include "search/search_move.h"

// The main thread's record exists from static initialisation on, so that
// positions made before any pool is built have an owner to count nodes on.
static SearchThread mainThreadRecord;

SearchThread* searchThreads[MAX_THREADS] = {&mainThreadRecord};

// Positions set up from text belong to the main thread until a search copies
// them into a thread of its own. Registered during static initialisation, so
// that it holds before any code sets up a position.
// The prefetch of a new child's table entries is registered the same way.
static const bool setUpPositionsAttach = [] {
    onPositionSetUp = [](Position& pos) { attachToThread(pos, mainThreadRecord); };
    onChildKeyKnown = prefetchChildEntries;
    return true;
}();
std::atomic<int> activeThreads{1};
std::mutex threadRecordsMutex;

// The input reader calls this while the main thread may be rebuilding the
// pool; the mutex keeps it off records that are being replaced.
void stopAllThreads() {
    std::lock_guard<std::mutex> lock(threadRecordsMutex);
    for (int i = 0; i < activeThreads; i++)
        if (searchThreads[i]) searchThreads[i]->stop.store(true);
}
