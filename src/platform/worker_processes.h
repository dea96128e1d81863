// Worker processes for long developer jobs (self-play data generation): the
// engine's search state is process-wide, so running several games at once
// means several processes. The parent shares a block of memory with them for
// progress counters.
#pragma once

#include <cstddef>

// A zeroed block of `bytes` that the parent and every worker started after
// this call see alike (null when it cannot be had).
void* allocateSharedMemory(size_t bytes);

// Starts `count` worker processes; worker k runs work(k) and then exits with
// status 0. Returns the number started.
int startWorkerProcesses(int count, void (*work)(int));

// Whether any worker started by startWorkerProcesses is still running; reaps
// those that have ended.
bool workersRunning();

// Asks every running worker to end (SIGTERM) and waits for them.
void stopWorkerProcesses();

// Lowers the scheduling priority of this process (and of the workers it
// starts later) by `increment` nice levels.
void lowerPriority(int increment);
