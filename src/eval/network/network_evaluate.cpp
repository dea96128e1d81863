#include <cstdint>

#include "board/position.h"
#include "eval/network/accumulator.h"
#include "eval/network/accumulator_cache.h"
#include "eval/network/layer_stack.h"
#include "eval/network/network.h"

// Brings both perspectives' sums up to date (White first), then runs the layer
// stack of the position's material bucket on the transformed sums, side to
// move first, and adds half the PSQT difference for the same bucket. All the
// buffers are on the stack; nothing allocates.
int32_t networkEvaluate(const Network& net, Position& pos, AccumulatorCache* cache) {
    if (cache && cache->networkSerial != net.serial) resetAccumulatorCache(*cache, net);
    updateAccumulator(*net.transformer, pos, WHITE, cache);
    updateAccumulator(*net.transformer, pos, BLACK, cache);

    const int bucket = layerStackBucket(pos);
    const Color us = pos.sideToMove(), them = ~us;

    alignas(64) uint8_t transformed[TRANSFORMED_BYTES];
    const int live = livePairs(*net.transformer);
    transformFeatures(pos.accumulation[us], pos.accumulation[them], transformed, live);

    // In 64 bits: the PSQT sums wrap, and their difference need not fit 32 bits
    // (half of it always does).
    const int64_t psqt =
        (int64_t(pos.psqtAccumulation[us][bucket]) - int64_t(pos.psqtAccumulation[them][bucket])) / 2;
    const int64_t positional = propagateLayerStack(net.stacks[bucket], transformed, live);
    return int32_t((positional + psqt) / NETWORK_OUTPUT_DIVISOR);
}
