#include "eval/eval_hash_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/options.h"
#include "core/output.h"

uint64_t pawnHashMask = 0;

namespace {

constexpr size_t CACHE_LINE = 64;

// Allocates `bytes` zero-filled bytes on a cache-line boundary, or ends the
// program with the allocation message naming `what`: the engine cannot run
// without its per-thread tables.
void* allocateZeroedOrDie(size_t bytes, const char* what) {
    size_t rounded = (bytes + CACHE_LINE - 1) / CACHE_LINE * CACHE_LINE;
    void* block = std::aligned_alloc(CACHE_LINE, rounded);
    if (!block) {
        printTo(stderr, "Unable to allocate %d bytes of memory for %s\n", int(bytes), what);
        std::exit(-1);
    }
    std::memset(block, 0, rounded);
    return block;
}

}  // namespace

// Each thread gets an equal share of the table memory left after its
// 64 KiB material hash; a pawn slot is budgeted at twice its 48 bytes, and
// the count is rounded up to a power of two so that a mask indexes it.
uint64_t pawnHashEntryCount(int tableMemoryMb, int threadCount) {
    int64_t share = ((int64_t(tableMemoryMb) << 20) - int64_t(sizeof(MaterialHashTable))) / threadCount / 96;
    uint64_t count = 1;
    while (int64_t(count) < share) count <<= 1;
    return count;
}

// The material hash has a fixed size, so it is allocated once per thread and
// only cleared afterwards; the pawn slots follow "Table Memory" and the
// thread count.
void allocateEvalHashTables(MaterialHashTable*& materialTable, PawnHashTable*& pawnTable, int threadCount) {
    if (!materialTable)
        materialTable =
            static_cast<MaterialHashTable*>(allocateZeroedOrDie(sizeof(MaterialHashTable), "mat_hash"));
    else
        std::memset(static_cast<void*>(materialTable), 0, sizeof(MaterialHashTable));

    if (!pawnTable)
        pawnTable = static_cast<PawnHashTable*>(allocateZeroedOrDie(sizeof(PawnHashTable), "pawn_hash"));
    PawnHashTable& pawns = *pawnTable;
    uint64_t count = pawnHashEntryCount(tableMemoryMb, std::max(threadCount, 1));
    if (pawns.entryCount != count) {
        std::free(pawns.entries);
        pawns.entries =
            static_cast<PawnHashEntry*>(allocateZeroedOrDie(count * sizeof(PawnHashEntry), "pawn_hash"));
        pawns.entryCount = count;
    } else {
        std::memset(static_cast<void*>(pawns.entries), 0, count * sizeof(PawnHashEntry));
    }
    pawns.probes = pawns.hits = 0;
    pawnHashMask = count - 1;
}

// Frees everything allocateEvalHashTables gave the thread.
void releaseEvalHashTables(MaterialHashTable*& materialTable, PawnHashTable*& pawnTable) {
    if (pawnTable) std::free(pawnTable->entries);
    std::free(pawnTable);
    std::free(materialTable);
    pawnTable = nullptr;
    materialTable = nullptr;
}
