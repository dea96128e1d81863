// The one monotonic clock of the program. Every time in the engine is a
// double number of seconds since `programStart`, a reading taken during
// static initialisation, so that times stay small and precise.
#pragma once

#include <cstdint>

// Nanoseconds of the monotonic clock (CLOCK_MONOTONIC: never jumps with the
// wall clock, which matters for a search that runs against a chess clock).
int64_t monotonicNanoseconds();

// The clock reading at static initialisation.
extern const int64_t programStart;

// Seconds since programStart.
double elapsedSeconds();

// elapsedSeconds() at the first statement of main; the log stamps its lines
// with seconds since this instant. Written once by main before other threads.
extern double entryTime;
