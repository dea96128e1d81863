#include "tt/transposition_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "core/options.h"
#include "core/output.h"
#include "platform/large_pages.h"
#include "platform/system_memory.h"
#include "platform/threads.h"

TranspositionTable transpositionTable;
static_assert(std::is_trivially_destructible_v<TranspositionTable>);

namespace {

constexpr uint64_t CLUSTERS_PER_MEGABYTE = (uint64_t(1) << 20) / sizeof(TTCluster);

// A depth as the entry's signed byte holds it. Searches deeper than 127 half
// plies are rare and all look alike to the replacement rules.
int8_t storedDepth(int depth) {
    return int8_t(std::clamp(depth, -128, 127));
}

// A block of zero bytes with room for `count` clusters, or null. `clusters`
// receives the first 64-byte boundary in it (2 MiB for big tables, which the
// kernel is asked to back with huge pages: random probes then miss the TLB
// far less often). calloc, not a fill: for a big block the system hands out
// fresh zero pages, so resizing touches nothing and each page is faulted in
// by the searches that use it (a fill of many gigabytes would take seconds).
// A block larger than the machine's physical memory counts as a failure even
// when the system would promise it, since using it would get the process
// killed, while a smaller table merely searches a little worse.
void* allocateClusters(uint64_t count, TTCluster*& clusters) {
    uint64_t bytes = count * sizeof(TTCluster);
    uint64_t physical = physicalMemoryBytes();
    if (physical != 0 && bytes > physical) return nullptr;
    uintptr_t alignment = bytes >= LARGE_PAGE_BYTES ? LARGE_PAGE_BYTES : alignof(TTCluster);
    void* block = std::calloc(1, size_t(bytes + alignment - 1));
    if (!block) return nullptr;
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(block) + alignment - 1) & ~(alignment - 1);
    clusters = reinterpret_cast<TTCluster*>(aligned);
    if (alignment == LARGE_PAGE_BYTES) adviseLargePages(clusters, size_t(bytes));
    return block;
}

// Zero-fills the cluster array. With several configured search threads the
// work is split into that many slices, each filled by a short-lived thread
// (the last slice takes the remainder), which matters for tables of many
// gigabytes. A thread that cannot be started leaves its slice to the caller.
// When "Clear Hash" arrives during a search this races with the searchers'
// probes and stores (deliberately: they only see zeros).
void zeroFillClusters(void* block, size_t bytes, int threadCount) {
    char* base = static_cast<char*>(block);
    if (threadCount <= 1) {
        std::memset(base, 0, bytes);
        return;
    }
    size_t slice = bytes / size_t(threadCount);
    Thread helpers[MAX_THREADS];
    for (int i = 0; i < threadCount; i++) {
        char* start = base + size_t(i) * slice;
        size_t length = i == threadCount - 1 ? bytes - size_t(threadCount - 1) * slice : slice;
        try {
            helpers[i].start([start, length] { std::memset(start, 0, length); });
        } catch (...) {
            std::memset(start, 0, length);
        }
    }
    for (int i = 0; i < threadCount; i++) helpers[i].join();
}

// The thread count that the zero fill uses: the "Threads" option.
int fillThreadCount() {
    return std::clamp(int(threadsOption), 1, MAX_THREADS);
}

// How much an entry is worth keeping when a cluster is full: deeper, newer
// and principal-variation entries are worth more.
int replacementValue(const TTEntry& entry) {
    return entry.depth + 24 * entry.generation + 4 * entry.pvNode;
}

// The entry a store writes to. The first entry that already holds the key,
// or the first empty one, ends the scan (sameKey tells which); in a full
// cluster without the key the entry of least replacementValue is given up,
// the earliest on ties.
TTEntry& chooseSlot(TTCluster& cluster, uint32_t key32, bool& sameKey) {
    for (TTEntry& entry : cluster.entries) {
        if (entry.key32 == key32) {
            sameKey = true;
            return entry;
        }
        if (entry.key32 == 0) {
            sameKey = false;
            return entry;
        }
    }
    sameKey = false;
    TTEntry* victim = &cluster.entries[0];
    int best = 999999;
    for (TTEntry& entry : cluster.entries) {
        int value = replacementValue(entry);
        if (value < best) {
            best = value;
            victim = &entry;
        }
    }
    return *victim;
}

// Writes all sixteen bytes of an entry that belonged to another position (or
// to none). The busy byte starts clear: it described the old occupant.
void writeFresh(TTEntry& slot, uint32_t key32, int depth, int16_t score, Move move, uint8_t bound,
                int16_t eval, uint8_t pvNode, uint16_t generation) {
    slot = TTEntry{key32, score, move, eval, generation, storedDepth(depth), bound, 0, pvNode};
}

// Replaces the result of an entry that already holds this position. The key
// and the busy byte stay (another thread may be searching below it); eval
// has been written by the caller.
void overwrite(TTEntry& slot, int depth, int16_t score, Move move, uint8_t bound, uint8_t pvNode,
               uint16_t generation) {
    slot.depth = storedDepth(depth);
    slot.score = score;
    slot.move = move;
    slot.generation = generation;
    slot.bound = bound;
    slot.pvNode = pvNode;
}

// In analysis a deep exact result is worth more than any shallower one, so
// only an equally deep search may replace it.
bool isProtected(bool analysisMode, int newDepth, int oldDepth, uint8_t oldBound) {
    return analysisMode && newDepth < oldDepth && (oldBound & BOUND_KIND_MASK) == BOUND_EXACT;
}

// The common start of every store. A slot that held another position (or
// none) is written fresh with the new result; otherwise the evaluation is
// refreshed. Returns the slot when the store's own rule must still decide
// what to keep, null when the store is done: written fresh, or the stored
// result protected by analysis.
TTEntry* slotToUpdate(TTCluster& cluster, uint32_t key32, int depth, int16_t score, Move move, uint8_t bound,
                      int16_t eval, uint8_t pvNode, uint16_t generation, bool analysisMode) {
    bool sameKey;
    TTEntry& slot = chooseSlot(cluster, key32, sameKey);
    if (!sameKey) {
        writeFresh(slot, key32, depth, score, move, bound, eval, pvNode, generation);
        return nullptr;
    }
    slot.eval = eval;
    if (isProtected(analysisMode, depth, slot.depth, slot.bound)) return nullptr;
    return &slot;
}

// A "Hash" change that arrived during a search, waiting for the next "go".
bool resizePending = false;
int pendingResizeMb = 0;

// Releases the table and builds one of `megabytes` when that is positive.
void rebuildTable(int megabytes) {
    transpositionTable.release();
    if (megabytes > 0) transpositionTable.resize(megabytes);
}

}  // namespace

// 51 % rather than a plain round-down: a request close to the next power of
// two (say 1000 MB) deserves the bigger table rather than half of it.
uint64_t clusterCountForMegabytes(int megabytes) {
    if (megabytes <= 0) return 1;
    uint64_t requested = uint64_t(megabytes) * CLUSTERS_PER_MEGABYTE;
    uint64_t target = requested * 51 / 100;
    uint64_t count = 1;
    while (count < target) count <<= 1;
    return count;
}

// Halving on failure keeps the engine playing with whatever memory there is;
// only a machine that cannot give even a few clusters is a fatal error.
void TranspositionTable::resize(int megabytes) {
    release();
    if (megabytes <= 0) return;
    uint64_t wanted = clusterCountForMegabytes(megabytes);
    uint64_t count = wanted;
    TTCluster* aligned = nullptr;
    void* block = allocateClusters(count, aligned);
    while (!block) {
        if (count <= 7) {
            printTo(stderr, "Hash table must be bigger than 0\n");
            std::exit(1);
        }
        count /= 2;
        block = allocateClusters(count, aligned);
    }
    if (count < wanted)
        printOut("info string Not enough memory for %d MB of hash, using %llu MB\n", megabytes,
                 static_cast<unsigned long long>(count / CLUSTERS_PER_MEGABYTE));
    rawBlock = block;
    clusters = aligned;
    clusterCount = count;
    indexMask = count - 1;
#if !defined(__SANITIZE_THREAD__)
    // Touch every page now, with the configured threads, rather than in the
    // first search: faulting in a large table page by page costs the first
    // moves of a game (and every benchmark) a large share of their time.
    // ThreadSanitizer builds skip it, where a fill is many times slower.
    clear();
#endif
    generation = 0;
    tableDirty = 0;
}

void TranspositionTable::release() {
    std::free(rawBlock);
    rawBlock = nullptr;
    spareCluster = TTCluster{};
    clusters = &spareCluster;
    clusterCount = 1;
    indexMask = 0;
    generation = 0;
}

void TranspositionTable::clear() {
    zeroFillClusters(clusters, size_t(sizeInBytes()), fillThreadCount());
    generation = 0;
    tableDirty = 0;
}

// Deliberate races in all store functions and in setBusy: other threads read
// and write the same entries with plain field accesses.

// An evaluation is cheap to recompute, so it never pushes out a real search
// result that is more than 6 plies deep; it only keeps such entries young.
void TranspositionTable::storeEval(Key key, int16_t eval, uint8_t pvNode) {
    TTEntry* slot = slotToUpdate(*clusterOf(key), uint32_t(key >> 32), DEPTH_EVAL_ONLY, 0, MOVE_NONE,
                                 BOUND_NONE, eval, pvNode, generation, analysisMode);
    if (!slot) return;
    int oldDepth = slot->depth;
    if (DEPTH_EVAL_ONLY + 12 <= oldDepth) {
        slot->generation = generation;
        if ((slot->bound & BOUND_KIND_MASK) == BOUND_EXACT) return;
        if (DEPTH_EVAL_ONLY < oldDepth - 12) return;
    }
    overwrite(*slot, DEPTH_EVAL_ONLY, 0, slot->move, BOUND_NONE, pvNode, generation);
}

// A much shallower fail-high still brings a useful move (and keeps the entry
// young), but its score replaces a deep one only when it is at most 6 plies
// shallower and the stored result is not tighter.
void TranspositionTable::storeLowerBound(Key key, int depth, int16_t score, Move move, int16_t eval,
                                         uint8_t pvNode) {
    TTEntry* slot = slotToUpdate(*clusterOf(key), uint32_t(key >> 32), depth, score, move, BOUND_LOWER, eval,
                                 pvNode, generation, analysisMode);
    if (!slot) return;
    int oldDepth = slot->depth;
    if (move == MOVE_NONE) move = slot->move;
    if (depth + 12 <= oldDepth) {
        slot->move = move;
        slot->generation = generation;
        uint8_t kind = slot->bound & BOUND_KIND_MASK;
        if (kind == BOUND_EXACT || (kind == BOUND_LOWER && slot->score > score)) return;
        if (depth < oldDepth - 12) return;
    }
    overwrite(*slot, depth, score, move, BOUND_LOWER, pvNode, generation);
}

// Like the lower bound, with the roles of the scores mirrored; a fail-low has
// no best move, so the stored one always survives.
void TranspositionTable::storeUpperBound(Key key, int depth, int16_t score, int16_t eval, uint8_t pvNode) {
    TTEntry* slot = slotToUpdate(*clusterOf(key), uint32_t(key >> 32), depth, score, MOVE_NONE, BOUND_UPPER,
                                 eval, pvNode, generation, analysisMode);
    if (!slot) return;
    int oldDepth = slot->depth;
    if (depth + 12 <= oldDepth) {
        slot->generation = generation;
        uint8_t kind = slot->bound & BOUND_KIND_MASK;
        if (kind == BOUND_EXACT || (kind <= BOUND_UPPER && slot->score < score)) return;
        if (depth < oldDepth - 12) return;
    }
    overwrite(*slot, depth, score, slot->move, BOUND_UPPER, pvNode, generation);
}

// An exact score is the most a search can say, so it always replaces the
// stored result (unless analysis protects a deeper exact one).
void TranspositionTable::storeExact(Key key, int depth, int16_t score, Move move, int16_t eval,
                                    uint8_t pvNode) {
    TTEntry* slot = slotToUpdate(*clusterOf(key), uint32_t(key >> 32), depth, score, move, BOUND_EXACT, eval,
                                 pvNode, generation, analysisMode);
    if (!slot) return;
    overwrite(*slot, depth, score, move != MOVE_NONE ? move : slot->move, BOUND_EXACT, pvNode, generation);
}

// A final score (mate or stalemate on the board) holds at any depth; it
// carries no move, so a stored one is kept for move ordering.
void TranspositionTable::storeFinal(Key key, int depth, int16_t score, int16_t eval, uint8_t pvNode) {
    TTEntry* slot = slotToUpdate(*clusterOf(key), uint32_t(key >> 32), depth, score, MOVE_NONE, BOUND_FINAL,
                                 eval, pvNode, generation, analysisMode);
    if (!slot) return;
    overwrite(*slot, depth, score, slot->move, BOUND_FINAL, pvNode, generation);
}

// Marks (1) or unmarks (0) a position as being searched, so that other threads
// can postpone it and spread over different subtrees. A position without an
// entry cannot be marked.
void TranspositionTable::setBusy(Key key, uint8_t value) {
    uint32_t key32 = uint32_t(key >> 32);
    for (TTEntry& entry : clusterOf(key)->entries)
        if (entry.key32 == key32) {
            entry.busy = value;
            return;
        }
}

// Counts a sample of the first 250 clusters. An empty entry does not count
// even though its generation (0) may equal the table's, which happens after
// a clear or a hash-file load; the one-cluster spare table is scaled to
// permille the same way.
int TranspositionTable::hashfull() const {
    uint64_t sampled = std::min<uint64_t>(250, clusterCount);
    int used = 0;
    for (uint64_t c = 0; c < sampled; c++)
        for (const TTEntry& entry : clusters[c].entries)
            if (entry.key32 != 0 && entry.generation == generation) used++;
    return int(uint64_t(used) * 1000 / (sampled * CLUSTER_ENTRIES));
}

void TranspositionTable::advanceGeneration(Key rootKey) {
    if (rootKey == lastRootKey) return;
    generation = uint16_t(generation + 1);
    lastRootKey = rootKey;
}

void TranspositionTable::adoptLoadedEntries(Key gameKey) {
    if (!hashLoaded) return;
    hashLoaded = 0;
    lastRootKey = gameKey;
}

void TranspositionTable::resetGenerations() {
    for (uint64_t c = 0; c < clusterCount; c++)
        for (TTEntry& entry : clusters[c].entries) entry.generation = 0;
    generation = 0;
    hashLoaded = 1;
}

// While a search runs (this is then called from its input poll on the main
// search thread) the other threads still probe the old block, so freeing it
// now would pull memory from under them; the change waits for the next "go".
void resizeTTFromOption(int megabytes, bool searchRunning) {
    if (searchRunning) {
        resizePending = true;
        pendingResizeMb = megabytes;
        return;
    }
    rebuildTable(megabytes);
}

void applyPendingTTResize() {
    if (!resizePending) return;
    resizePending = false;
    rebuildTable(pendingResizeMb);
}
