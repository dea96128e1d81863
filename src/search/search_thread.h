// The per-thread search record. Positions name their owner by index, so that
// making a move can count nodes and raise the owner's stop flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "board/position.h"
#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "eval/network/accumulator_cache.h"
#include "search/history.h"
#include "search/search_state.h"

struct SearchThread {
    // Only the owner writes its node counter; others read it for reporting.
    std::atomic<uint64_t> nodes{0};
    // Raised by the main thread, the input reader, or the owner itself when
    // the node limit is reached.
    std::atomic<bool> stop{false};
    int index = 0;
    // The thread's evaluation caches (allocateEvalHashTables); null until then.
    MaterialHashTable* materialTable = nullptr;
    PawnHashTable* pawnTable = nullptr;
    // Move-ordering statistics (killers, counter moves, histories), filled
    // with their starting values when the record is made.
    HistoryTable history;
    // The iteration (in plies) this thread is searching; 0 while idle. The
    // node searches extend only while the ply is below twice this value.
    int iteration = 0;
    // Position records of the alpha-beta search, one per ply: a node at ply p
    // makes its children in plyStack[p + 1], so the recursion keeps no
    // six-kilobyte records on the machine stack.
    Position plyStack[MAX_PLY + 1];
    // Sums by king square for cheap refreshes of this thread's positions.
    AccumulatorCache accumulatorCache;
};

// searchThreads[0] is the main thread's record and always exists; the
// thread pool (thread_pool.h) makes the others. The table and the count
// change only while no search runs, under threadRecordsMutex, which
// stopAllThreads takes too: the input reader may call it at any time.
extern SearchThread* searchThreads[MAX_THREADS];
extern std::atomic<int> activeThreads;
extern std::mutex threadRecordsMutex;

// Raises the stop flag of every search thread.
void stopAllThreads();

// Points a position at the tables of `thread`: its evaluation caches, its
// move statistics and its accumulator cache. A position that no move led to
// yet (set up from text: no continuation slices) gets the side's "no move"
// rows, as the search's own positions do after a null move.
inline void attachToThread(Position& pos, SearchThread& thread) {
    pos.threadIndex = uint16_t(thread.index);
    pos.pawnTable = thread.pawnTable;
    pos.materialTable = thread.materialTable;
    pos.accumulatorCache = &thread.accumulatorCache;
    pos.history = &thread.history;
    if (!pos.contHist[0])
        for (PieceToHistory*& slice : pos.contHist) slice = noMoveSlice(thread.history, pos.sideToMove());
}

// The thread's evaluation caches, sized for the running thread count.
inline void allocateEvalHashTables(SearchThread& thread) {
    allocateEvalHashTables(thread.materialTable, thread.pawnTable, activeThreads.load());
}

inline void releaseEvalHashTables(SearchThread& thread) {
    releaseEvalHashTables(thread.materialTable, thread.pawnTable);
}
