// The search threads beyond thread 0: created once per "Threads" setting,
// parked between searches, woken for each alpha-beta search to run their own
// iterative deepening over a copy of the root, and collected at a barrier
// before "bestmove". They cooperate only through the transposition table;
// thread 0 alone decides when the search ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The end-of-search meeting point. arm(n) opens a round for n arrivals;
// workers arrive() once per round; thread 0 calls wait(), which counts as its
// own arrival and returns when everyone has arrived. A new arm() releases
// anyone still waiting on the old round (the generation moves on), so a
// waiter can never be stranded by a re-arm.
class SearchBarrier {
  public:
    void arm(int count);
    void arrive();
    void wait();
    // Arrivals still missing in the current round.
    int pending();

  private:
    std::mutex mutex;
    std::condition_variable condition;
    int counter = 0;
    uint64_t generation = 0;
};

// Stops and joins every worker, sets the thread count to "Threads", makes
// fresh records for the workers when the count changed, gives every thread
// material and pawn tables sized for "Table Memory", and starts workers
// 1 .. count - 1. Only while no search runs.
void resizeThreads();

// Whether "Threads" or "Table Memory" differ from what the pool was built
// with, i.e. whether resizeThreads has something to do.
bool threadSettingsChanged();

// Hands the search prepared in rootPosition and rootMoves to every worker:
// arms the barrier for all threads, clears the workers' stop flags and node
// counts and wakes them. Returns at once with one thread.
void startWorkers();

// Thread 0's arrival at the barrier: returns when every worker has finished
// its search.
void waitWorkers();

// The end of a search: raises every worker's stop flag, waits for all of
// them at the barrier, and lowers the flags again.
void finishWorkerSearch();

// Ends and joins every worker thread; the records and tables stay. Safe to
// call more than once and with no workers.
void stopWorkers();

// Stops the workers and frees every record and table of the pool (at exit).
void releaseThreadPool();
