// Search-control state shared between the command loop and the think driver.
// Written on the main thread; the stop flags of the search threads are the
// only values other threads write (see search_thread.h).
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint8_t> searching;      // a "go" is being carried out
extern std::atomic<uint8_t> stopRequested;  // "stop" arrived during this search
extern std::atomic<uint8_t> pondering;      // searching in ponder mode until "ponderhit"
extern int32_t ponderCounter;
extern double moveTimeLimit;  // "go movetime", seconds; 0 = none
extern int64_t nodeLimit;     // "go nodes"; -1 = none
// A soft node limit for the data generator: iterative deepening ends after
// the iteration in which thread 0 passes it (0 = none). "go" never sets it.
extern int64_t softNodeLimit;
