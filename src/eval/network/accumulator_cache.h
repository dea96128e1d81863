// A per-thread cache that makes accumulator refreshes cheap.
//
// A refresh is needed whenever our own king moves (the king square picks the
// feature set) or the walk back to valid sums would cost more than starting
// over. Starting over means one column per piece on the board; but the last
// time our king stood on the same square, most pieces stood where they stand
// now. Each entry keeps the sums for one perspective and king square together
// with the pieces they were computed for, so a refresh only applies the
// columns of the pieces that differ, then copies the sums out.
//
// The sums wrap in 16 and 32 bits, so the result is exactly what a refresh
// from scratch gives, whatever order the columns come in.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/network/network.h"

struct AccumulatorCacheEntry {
    alignas(64) int16_t sums[NETWORK_HIDDEN];
    int32_t psqt[NETWORK_PSQT_BUCKETS];
    Bitboard pieces[2][7];  // what the sums were computed for; [colour][0] unused
};

struct AccumulatorCache {
    AccumulatorCacheEntry entries[2][64];  // [perspective][own king square]
    // The network the sums belong to (Network::serial); 0 = not yet filled.
    uint64_t networkSerial = 0;
};

// Makes every entry the sums of an empty board for `net` (the biases).
void resetAccumulatorCache(AccumulatorCache& cache, const Network& net);

// Sets the sums of `perspective` in pos from the cache entry of its king
// square, bringing the entry up to date on the way. The cache must have been
// reset for the transformer's network.
void refreshAccumulatorFromCache(const FeatureTransformer& ft, AccumulatorCache& cache, Position& pos,
                                 Color perspective);
