// The per-thread search record. Positions name their owner by index, so that
// making a move can count nodes and raise the owner's stop flag.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int MAX_THREADS = 256;

struct MaterialHashTable;
struct PawnHashTable;

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
};

// searchThreads[0] is the main thread's record and always exists.
extern SearchThread* searchThreads[MAX_THREADS];
extern int activeThreads;

// Raises the stop flag of every search thread.
void stopAllThreads();
