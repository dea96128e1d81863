// Shared by the tests of the periodic check.
#pragma once

#include "search/periodic_check.h"

// Calls the check `calls` times; whether any call asked to stop. (It looks at
// the clock only every so many calls, so one call proves nothing.)
inline bool anyPeriodicStop(int calls) {
    bool stop = false;
    for (int i = 0; i < calls; i++) stop |= periodicCheck();
    return stop;
}
