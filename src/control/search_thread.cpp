#include "control/search_thread.h"

// The main thread's record exists from static initialisation on, so that
// positions made before any pool is built have an owner to count nodes on.
static SearchThread mainThreadRecord;

SearchThread* searchThreads[MAX_THREADS] = {&mainThreadRecord};
int activeThreads = 1;

void stopAllThreads() {
    for (int i = 0; i < activeThreads; i++)
        if (searchThreads[i]) searchThreads[i]->stop.store(true);
}
