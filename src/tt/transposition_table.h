// The transposition table: one process-wide hash table of search results that
// every search thread reads and writes at the same time, without locks.
//
// Layout is fixed: four 16-byte TTEntry records per 64-byte, 64-byte-aligned
// TTCluster, so a probe touches one cache line. The cluster array is also the
// on-disk format of the hash file (hash_file.h), so the field order, widths
// and little-endian layout below must not change.
//
// Deliberate data races. Search threads probe and store with plain loads and
// stores, field by field; a reader can see fields of two different writes, and
// the 32-bit key check is the only validation (moves read back are checked for
// pseudo-legality by the move picker, and make rejects illegal ones). All of
// these accesses sit in the TranspositionTable members probe, store*, setBusy
// and hashfull, plus, when "Clear Hash", "Save Hash to File" or "Load Hash
// from File" arrives during a search (through its input poll), in
// zeroFillClusters, writeHashFile, readHashFile and resetGenerations; a
// ThreadSanitizer suppression can name just those functions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/types.h"

// Stored as eval when the node had no static evaluation.
constexpr int16_t EVAL_NONE = -32768;
// Depth of an entry that holds only an evaluation; anything below -98 is one.
constexpr int DEPTH_EVAL_ONLY = -99;
// Bound byte: bits 0-1 give the kind of score, bit 2 marks a final score
// (valid at any depth and window); a final entry is always written as 7.
constexpr uint8_t BOUND_NONE = 0;
constexpr uint8_t BOUND_UPPER = 1;  // fail low: the true score is at most this
constexpr uint8_t BOUND_LOWER = 2;  // fail high: the true score is at least this
constexpr uint8_t BOUND_EXACT = 3;
constexpr uint8_t BOUND_KIND_MASK = 3;
constexpr uint8_t BOUND_FINAL_FLAG = 4;
constexpr uint8_t BOUND_FINAL = BOUND_EXACT | BOUND_FINAL_FLAG;

// One stored search result. key32 = 0 marks an empty entry.
struct TTEntry {
    uint32_t key32;       // upper 32 bits of the position key
    int16_t score;        // mate scores relative to this node (scoreToTT)
    uint16_t move;        // best or refuting move; 0 = none
    int16_t eval;         // static evaluation; EVAL_NONE = none
    uint16_t generation;  // table generation when last written or refreshed
    int8_t depth;         // remaining depth in half plies; DEPTH_EVAL_ONLY = eval only
    uint8_t bound;        // BOUND_* value
    uint8_t busy;         // non-zero while a thread searches this subtree
    uint8_t pvNode;       // 1 when written by a principal-variation search
};
static_assert(sizeof(TTEntry) == 16);
static_assert(offsetof(TTEntry, score) == 4 && offsetof(TTEntry, move) == 6 && offsetof(TTEntry, eval) == 8);
static_assert(offsetof(TTEntry, generation) == 10 && offsetof(TTEntry, depth) == 12);
static_assert(offsetof(TTEntry, bound) == 13 && offsetof(TTEntry, busy) == 14 &&
              offsetof(TTEntry, pvNode) == 15);

constexpr int CLUSTER_ENTRIES = 4;

struct alignas(64) TTCluster {
    TTEntry entries[CLUSTER_ENTRIES];
};
static_assert(sizeof(TTCluster) == 64);

// The number of clusters built for a "Hash" size of `megabytes`: the smallest
// power of two not below 51 % of the clusters that fit in that many MiB. A
// power-of-two size is kept exactly; other sizes go to the power of two below
// unless they exceed it by more than about 96 %.
uint64_t clusterCountForMegabytes(int megabytes);

// Mate scores are stored as distances from the node, not from the root, so an
// entry stays right wherever in the tree it is found again.
constexpr int scoreToTT(int score, int ply) {
    return score >= 31800 ? score + ply : score <= -31800 ? score - ply : score;
}
// The inverse, applied to a score read back at `ply`.
constexpr int scoreFromTT(int score, int ply) {
    return score < -31799 ? score + ply : score > 31799 ? score - ply : score;
}

// Whether an entry holds a search result, not just an evaluation.
constexpr bool hasSearchResult(const TTEntry& entry) {
    return entry.depth >= DEPTH_EVAL_ONLY + 1;
}

struct TranspositionTable {
    // Without an allocated block the table is the one cluster `spareCluster`,
    // so probes and stores stay safe (and nearly useless) before start-up has
    // built the table, after "Hash" 0 and after release().
    uint64_t clusterCount = 1;
    uint64_t indexMask = 0;
    void* rawBlock = nullptr;  // the allocation; null while spareCluster is in use
    TTCluster* clusters = &spareCluster;
    uint16_t generation = 0;   // age of the current search; wraps
    int32_t analysisMode = 0;  // set per search: protects deeper exact entries
    uint8_t tableDirty = 0;    // a search ran since the last resize or clear
    Key lastRootKey = 0;       // root key of the search that last advanced the generation
    uint8_t hashLoaded = 0;    // a hash file was loaded since the last "go"
    TTCluster spareCluster{};

    TranspositionTable() = default;
    TranspositionTable(const TranspositionTable&) = delete;
    TranspositionTable& operator=(const TranspositionTable&) = delete;

    // Frees the old block and builds a zero-filled table for `megabytes`
    // (clusterCountForMegabytes). A failed allocation halves the cluster count
    // and tries again; when even a few clusters cannot be had, the program
    // ends ("Hash table must be bigger than 0", status 1). Resets the
    // generation and tableDirty. A size of 0 or less only releases.
    void resize(int megabytes);
    // Frees the block; the table falls back to the spare cluster.
    void release();
    // Zero-fills every cluster (spread over the "Threads" count of threads),
    // resets the generation and tableDirty.
    void clear();

    // Bytes of the cluster array, which is also the size of a hash file.
    uint64_t sizeInBytes() const { return clusterCount * sizeof(TTCluster); }

    TTCluster* clusterOf(Key key) const { return clusters + (key & indexMask); }

    // Copies the entry that holds `key` into `out`. Copying first and working
    // on the copy keeps a concurrent writer from changing fields under the
    // caller's feet (the copy itself may still be torn; the key decides).
    bool probe(Key key, TTEntry& out) const {
        const TTCluster* cluster = clusterOf(key);
        uint32_t key32 = uint32_t(key >> 32);
        for (const TTEntry& entry : cluster->entries) {
            TTEntry copy = entry;  // deliberate race: another thread may be writing this entry
            if (copy.key32 == key32) {
                out = copy;
                return true;
            }
        }
        return false;
    }

    // The five ways a search writes a result. Scores are already adjusted with
    // scoreToTT; a depth above 127 is stored as 127. Which stored results a
    // new one may replace, and which fields survive, is the table's
    // replacement policy (see the .cpp).
    void storeEval(Key key, int16_t eval, uint8_t pvNode);
    void storeLowerBound(Key key, int depth, int16_t score, Move move, int16_t eval, uint8_t pvNode);
    void storeUpperBound(Key key, int depth, int16_t score, int16_t eval, uint8_t pvNode);
    void storeExact(Key key, int depth, int16_t score, Move move, int16_t eval, uint8_t pvNode);
    void storeFinal(Key key, int depth, int16_t score, int16_t eval, uint8_t pvNode);

    // Sets the busy byte of the entry holding `key`, if there is one.
    void setBusy(Key key, uint8_t value);

    // Permille of used entries: how many of the first 1000 entries are
    // occupied and carry the current generation.
    int hashfull() const;

    // Called as a search starts: a new root position (not a ponder or
    // analysis restart of the same one) begins a new generation, so older
    // entries age.
    void advanceGeneration(Key rootKey);

    // Called by "go": after a hash-file load, take the game position as the
    // root the loaded entries belong to, so the next search counts them as
    // current instead of advancing past them.
    void adoptLoadedEntries(Key gameKey);

    // Resets the generation of every entry and of the table (a loaded file's
    // entries all become generation 0) and raises hashLoaded.
    void resetGenerations();
};

// The one table all search threads share. Its destructor is trivial, so a
// fatal exit while search threads still run cannot pull the block away from
// them; shut-down calls release().
extern TranspositionTable transpositionTable;

// Starts fetching the cluster of `key` into every cache level: making a move
// calls it as soon as the child's key is known, so the probe that follows
// rarely waits for memory. (A non-temporal hint measured slower: the line was
// often gone again by the time the child probed.)
inline void prefetchTTEntry(Key key) {
#if defined(__GNUC__)
    __builtin_prefetch(transpositionTable.clusterOf(key), 0, 3);
#else
    (void)key;
#endif
}

// The "Hash" option: release the table and, for a positive size, build one of
// `megabytes`. A request that arrives during a search (searchRunning: through
// the search's input poll) is held back until the search has ended, because
// the search threads are still using the old block; applyPendingTTResize()
// carries it out.
void resizeTTFromOption(int megabytes, bool searchRunning);
// Carries out a "Hash" change held back during a search; "go" calls it first.
void applyPendingTTResize();
