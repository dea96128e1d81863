// The per-thread evaluation caches: the material hash (value and scale of a
// material configuration) and the pawn hash of the regular evaluation. Each
// search thread owns one of each; positions reach them through their
// pawnTable and materialTable handles.
#pragma once

#include <cstdint>

#include "board/types.h"

struct SearchThread;

// One cached material result: the full material key, the scale and the value.
struct MaterialHashEntry {
    Key key;
    float scale;
    int32_t value;
};
static_assert(sizeof(MaterialHashEntry) == 16);

constexpr int MATERIAL_HASH_ENTRIES = 4096;

// Direct-mapped by materialKey & (MATERIAL_HASH_ENTRIES - 1), replaced always.
struct MaterialHashTable {
    MaterialHashEntry entries[MATERIAL_HASH_ENTRIES];
};
static_assert(sizeof(MaterialHashTable) == 65536);

// One pawn-structure slot. What the 48 bytes hold belongs to the regular
// evaluation; this file only sizes and zero-fills them.
struct PawnHashEntry {
    uint64_t words[6];
};
static_assert(sizeof(PawnHashEntry) == 48);

// A thread's pawn hash: pawnHashMask + 1 zero-filled slots, indexed by
// pawnKey & pawnHashMask. The record itself stays put when the slots are
// re-allocated, so positions that hold it remain valid.
struct PawnHashTable {
    PawnHashEntry* entries;
    uint64_t entryCount;
};

// Slot count minus one of every thread's pawn hash (all threads share the
// size). 0 until the first allocation.
extern uint64_t pawnHashMask;

// The material-hash slot for key.
inline MaterialHashEntry& materialHashSlot(MaterialHashTable& table, Key key) {
    return table.entries[key & (MATERIAL_HASH_ENTRIES - 1)];
}

// Number of pawn-hash slots for the given "Table Memory" and thread count:
// the thread's share of the memory left after the material hash, over 96
// bytes a slot, rounded up to a power of two.
uint64_t pawnHashEntryCount(int tableMemoryMb, int threadCount);

// Gives one search thread (of threadCount) a zero-filled material and pawn
// hash, sizing the pawn hash from "Table Memory" and the thread count. Called
// again (after a change of either), it keeps the table records, clears them
// and re-allocates the pawn slots when their count changes. A failed
// allocation is fatal (exit status -1).
void allocateEvalHashTables(MaterialHashTable*& materialTable, PawnHashTable*& pawnTable, int threadCount);

// Frees the tables; both handles become null.
void releaseEvalHashTables(MaterialHashTable*& materialTable, PawnHashTable*& pawnTable);
