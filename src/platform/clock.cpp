#include "platform/clock.h"

#include <time.h>

int64_t monotonicNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The first caller fixes the start. The initialiser of programStart below
// calls it during static initialisation at the latest, but code in another
// file that reads the clock during its own static initialisation (which may
// run earlier) still gets a sensible start instead of zero.
static int64_t startReading() {
    static const int64_t start = monotonicNanoseconds();
    return start;
}

const int64_t programStart = startReading();

double entryTime = 0.0;

double elapsedSeconds() {
    return double(monotonicNanoseconds() - startReading()) * 1e-9;
}
