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

// One pawn-structure slot: what the regular evaluation keeps of a pawn
// structure (with the kings and castling rights that the pawn key includes).
struct PawnHashEntry {
    uint8_t passedSquares[2][8];  // passed pawns by colour, ascending, 0-terminated
    Key key;
    int64_t score;             // ScorePair, White's point of view
    int16_t shelterAdjust[2];  // by king colour; lowers the attacker's king-danger weight
    uint8_t fileClass[2];      // pawnFileClass of each colour's file byte
    uint8_t kingPlacement;     // 1: both kings on e-h, 2: both on a-d, 0: different wings
    uint8_t openFiles;         // files without any pawn
    uint8_t fewFiles;          // scale the result by 0.9
    uint8_t unused41;
    int8_t closedness;  // White pawns with a Black pawn directly in front
    uint8_t unused43[5];
};
static_assert(sizeof(PawnHashEntry) == 48);

// A thread's pawn hash: pawnHashMask + 1 zero-filled slots, indexed by
// pawnKey & pawnHashMask. The record itself stays put when the slots are
// re-allocated, so positions that hold it remain valid.
struct PawnHashTable {
    PawnHashEntry* entries;
    uint64_t entryCount;
    uint64_t probes, hits;  // lookups and hits since allocation (for bench)
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
