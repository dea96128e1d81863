// Measures the network inference: nanoseconds per evaluation for a refresh of
// both perspectives plus the forward pass, an incremental update after a quiet
// move or a capture plus the forward pass, and the layer stacks alone
// (transform and propagation).
//
// Usage: nnue_bench [ITERATIONS] [RUNS] [PAIRS]
//   ITERATIONS evaluations per run (default 200000), RUNS runs per case
//   (default 9); each line gives the median run. PAIRS (default 768) gives a
//   network as narrow as a trained one of that many neuron pairs: the sums of
//   the later pairs are zero, and the kernels skip them.
//
// The network holds deterministic random weights, so the figures do not depend
// on the built-in network. The same position and move are evaluated over and
// over, so the data they touch stays in the processor's caches (mostly the
// second level: one incremental evaluation touches about 55 KB). A search,
// which moves from position to position, also waits on memory. Times are this
// thread's processor time, so other programs on a shared machine count less.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "eval/network/accumulator.h"
#include "eval/network/accumulator_cache.h"
#include "eval/network/layer_stack.h"
#include "eval/network/network.h"

namespace {

// A middlegame position with every kind of piece, a quiet move and a capture.
constexpr const char* BENCH_FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
constexpr const char* QUIET_MOVE = "a2a3";
constexpr const char* CAPTURE_MOVE = "e5f7";

// splitmix64, for reproducible weights.
struct Rng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
};

// Weights in the ranges a trained network's take, roughly: small
// feature-transformer weights, first-layer weights over the whole int8 range.
void fillRandomNetwork(Network& net) {
    Rng rng{12345};
    FeatureTransformer& ft = *net.transformer;
    for (int16_t& w : ft.weights) w = int16_t(rng.range(-64, 64));
    for (int16_t& b : ft.biases) b = int16_t(rng.range(-32, 64));
    for (int32_t& w : ft.psqtWeights) w = rng.range(-5000, 5000);
    for (int s = 0; s < NETWORK_LAYER_STACKS; s++) {
        LayerStack& stack = net.stacks[s];
        for (int8_t& w : stack.l1Weights) w = int8_t(rng.range(-128, 127));
        for (int32_t& b : stack.l1Biases) b = rng.range(-20000, 20000);
        for (float& w : stack.l2Weights) w = float(rng.range(-128, 127));
        for (float& b : stack.l2Biases) b = float(rng.range(-2000, 2000));
        for (float& w : stack.l3Weights) w = float(rng.range(-128, 127));
        stack.l3Bias = float(rng.range(-1000, 1000));
        arrangeFirstLayerWeights(stack);
    }
}

// Zeroes both sums of every pair from `pairs` on, as a network trained with
// that many pairs has them, and lets the network find its dead pairs.
void narrowNetwork(Network& net, int pairs) {
    FeatureTransformer& ft = *net.transformer;
    constexpr int HALF = NETWORK_HIDDEN / 2;
    for (size_t f = 0; f <= size_t(NETWORK_FEATURES); f++) {
        int16_t* column = f < size_t(NETWORK_FEATURES) ? ft.weights + f * NETWORK_HIDDEN : ft.biases;
        for (int j = pairs; j < HALF; j++) column[j] = column[j + HALF] = 0;
    }
    measureDeadPairs(ft);
}

using FirstLayerKernel = void (*)(const LayerStack&, const uint8_t*, int32_t*, int);

#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
constexpr const char* KERNELS = "AVX-512 (accumulator, transform, first layer), AVX2 (float layers)";
constexpr FirstLayerKernel denseFirstLayer = firstLayerWide, sparseFirstLayer = firstLayerSparseWide;
#elif defined(__AVX2__)
constexpr const char* KERNELS = "AVX2";
constexpr FirstLayerKernel denseFirstLayer = firstLayerVector, sparseFirstLayer = firstLayerSparseVector;
#else
constexpr const char* KERNELS = "plain C++";
constexpr FirstLayerKernel denseFirstLayer = firstLayerScalar, sparseFirstLayer = firstLayerSparseScalar;
#endif

// Keeps the compiler from dropping evaluations whose results nobody reads.
volatile int64_t sink;

// This thread's processor time in nanoseconds. The machine may be shared, and
// processor time leaves out the slices other programs take.
double threadNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

// Runs `work` iterations times per run and returns the median processor
// nanoseconds per call.
template <typename Work>
double medianNanoseconds(int iterations, int runs, Work work) {
    std::vector<double> perCall;
    for (int r = 0; r < runs; r++) {
        int64_t total = 0;
        double start = threadNanoseconds();
        for (int i = 0; i < iterations; i++) total += work();
        double end = threadNanoseconds();
        sink = total;
        perCall.push_back((end - start) / iterations);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

// Evaluates `child` after its parent's sums are valid, forgetting the child's
// own sums before each call, so every call updates both perspectives from the parent.
double incrementalCase(const Network& net, Position& parent, const char* move, int iterations, int runs) {
    static Position child;
    if (!parseAndMakeMove(parent, child, move)) {
        std::fprintf(stderr, "nnue_bench: %s is not legal\n", move);
        std::exit(1);
    }
    networkEvaluate(net, parent);
    return medianNanoseconds(iterations, runs, [&] {
        child.computed[WHITE] = child.computed[BLACK] = false;
        return networkEvaluate(net, child);
    });
}

void report(const char* label, double nanoseconds) {
    std::printf("%-42s %8.1f ns/eval\n", label, nanoseconds);
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = argc > 1 ? std::atoi(argv[1]) : 200000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 9;
    int pairs = argc > 3 ? std::atoi(argv[3]) : ALL_PAIRS;
    if (iterations < 1 || runs < 1 || pairs < 0 || pairs > ALL_PAIRS) {
        std::fprintf(stderr, "usage: nnue_bench [ITERATIONS] [RUNS] [PAIRS 0..768]\n");
        return 1;
    }
    initSlidingAttacks();
    initRayTables();
    Network net;
    fillRandomNetwork(net);
    if (pairs < ALL_PAIRS) narrowNetwork(net, pairs);
    const int live = livePairs(*net.transformer);

    static Position pos;
    setFromFen(pos, BENCH_FEN);
    std::printf("kernels: %s\n", KERNELS);
    std::printf("iterations per run: %d, runs: %d (medians), pairs worked: %d of %d\n", iterations, runs,
                live, ALL_PAIRS);

    double refresh = medianNanoseconds(iterations, runs, [&] {
        pos.computed[WHITE] = pos.computed[BLACK] = false;
        return networkEvaluate(net, pos);
    });
    report("refresh + forward", refresh);

    // A refresh through the cache, alternating between two positions one
    // quiet move apart: each call finds the entries one piece off.
    {
        auto cache = std::make_unique<AccumulatorCache>();
        resetAccumulatorCache(*cache, net);
        static Position other;
        if (!parseAndMakeMove(pos, other, QUIET_MOVE)) return 1;
        other.parent = nullptr;
        Position* both[2] = {&pos, &other};
        int turn = 0;
        double cached = medianNanoseconds(iterations, runs, [&] {
            Position& p = *both[turn ^= 1];
            p.computed[WHITE] = p.computed[BLACK] = false;
            return networkEvaluate(net, p, cache.get());
        });
        report("cached refresh (one piece off) + forward", cached);
    }

    double quiet = incrementalCase(net, pos, QUIET_MOVE, iterations, runs);
    report("quiet move update + forward", quiet);
    double capture = incrementalCase(net, pos, CAPTURE_MOVE, iterations, runs);
    report("capture update + forward", capture);

    networkEvaluate(net, pos);
    const LayerStack& stack = net.stacks[layerStackBucket(pos)];
    double layers = medianNanoseconds(iterations, runs, [&] {
        alignas(64) uint8_t transformed[TRANSFORMED_BYTES];
        transformFeatures(pos.accumulation[WHITE], pos.accumulation[BLACK], transformed, live);
        return propagateLayerStack(stack, transformed, live);
    });
    report("layer stack (transform + propagate)", layers);

    // The first layer alone, dense and sparse, on this network's transformed
    // bytes and on bytes where only one group in sixteen is non-zero.
    alignas(64) uint8_t dense[TRANSFORMED_BYTES], sparse[TRANSFORMED_BYTES] = {};
    transformFeatures(pos.accumulation[WHITE], pos.accumulation[BLACK], dense, live);
    for (int g = 0; g < TRANSFORMED_BYTES / 4; g += 16) sparse[4 * g] = 100;
    for (const uint8_t* bytes : {dense, sparse}) {
        int nonZero = 0;
        for (int g = 0; g < TRANSFORMED_BYTES / 4; g++)
            nonZero += (bytes[4 * g] | bytes[4 * g + 1] | bytes[4 * g + 2] | bytes[4 * g + 3]) != 0;
        char label[64];
        std::snprintf(label, sizeof label, "first layer, dense kernel, %d%% groups", nonZero * 100 / 384);
        report(label, medianNanoseconds(iterations, runs, [&] {
                   alignas(64) int32_t sums[L1_OUTPUTS];
                   denseFirstLayer(stack, bytes, sums, live);
                   return sums[0];
               }));
        std::snprintf(label, sizeof label, "first layer, sparse kernel, %d%% groups", nonZero * 100 / 384);
        report(label, medianNanoseconds(iterations, runs, [&] {
                   alignas(64) int32_t sums[L1_OUTPUTS];
                   sparseFirstLayer(stack, bytes, sums, live);
                   return sums[0];
               }));
    }
    return 0;
}
