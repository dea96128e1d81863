// The evaluation network's weights and the entry points of its inference.
//
// Layout: a feature transformer (HalfKAv2_hm features, 22528 inputs, 1536
// sums per perspective, 8 PSQT buckets) followed by eight small layer stacks
// 1536 -> 16 -> 32 -> 1 chosen by material. The weights are read-only while
// searches run.
#pragma once

#include <cstddef>
#include <cstdint>

struct Position;

constexpr int NETWORK_FEATURES = 22528;
constexpr int NETWORK_HIDDEN = 1536;  // sums per perspective
constexpr int NETWORK_PSQT_BUCKETS = 8;
constexpr int NETWORK_LAYER_STACKS = 8;
constexpr int L1_OUTPUTS = 16;  // the 16th is a shortcut to the result
constexpr int L2_INPUTS = 30;
constexpr int L2_OUTPUTS = 32;
constexpr int NETWORK_OUTPUT_DIVISOR = 16;

// The description text a plain network image must carry.
inline constexpr char NETWORK_DESCRIPTION[] = "Sable network.";

// The size of a plain network image without its description text.
constexpr size_t PLAIN_IMAGE_FIXED_BYTES = 70136656;

struct FeatureTransformer {
    // Feature-major: the 1536 weights of feature f start at f * 1536.
    alignas(64) int16_t weights[NETWORK_FEATURES * NETWORK_HIDDEN];
    alignas(64) int16_t biases[NETWORK_HIDDEN];
    // Feature-major: the 8 bucket values of feature f start at f * 8.
    alignas(64) int32_t psqtWeights[NETWORK_FEATURES * NETWORK_PSQT_BUCKETS];
    // How many of the last sum pairs (j, j + 768) are known to give a product
    // of 0 in every position, because the sum j or j + 768 has a zero bias and
    // zero weights (networks trained narrower than 768 pairs). The kernels
    // skip them: their sums are never written, and their transformed bytes
    // are 0. A multiple of DEAD_PAIR_STEP; 0 (all pairs worked) unless
    // measureDeadPairs found some. Not part of the file.
    int deadPairs;
};

// Dead pairs are skipped in whole blocks of this many, so that every kernel
// keeps whole registers and whole tiles.
constexpr int DEAD_PAIR_STEP = 256;

// The pairs j < livePairs(ft) are worked; the others are dead.
constexpr int livePairs(const FeatureTransformer& ft) {
    return NETWORK_HIDDEN / 2 - ft.deadPairs;
}

// Sets ft.deadPairs from the weights: the trailing pairs, in blocks of
// DEAD_PAIR_STEP, whose sum j or sum j + 768 is zero in every column and bias.
void measureDeadPairs(FeatureTransformer& ft);

struct LayerStack {
    // Output-major: the 1536 weights of output o start at o * 1536.
    alignas(64) int8_t l1Weights[L1_OUTPUTS * NETWORK_HIDDEN];
    alignas(64) int32_t l1Biases[L1_OUTPUTS];
    // The same weights by group of four inputs (arrangeFirstLayerWeights):
    // row g holds the four weights of inputs 4g..4g+3 for output 0, then for
    // output 1, and so on, so one 64-byte row serves all sixteen outputs and
    // a group of zero inputs can be skipped whole. Not part of the file.
    alignas(64) int8_t l1WeightsByGroup[NETWORK_HIDDEN / 4][L1_OUTPUTS * 4];
    // Output-major, 30 inputs per output. Stored in files as integers and
    // converted to float unscaled when read.
    alignas(64) float l2Weights[L2_OUTPUTS * L2_INPUTS];
    alignas(64) float l2Biases[L2_OUTPUTS];
    alignas(64) float l3Weights[L2_OUTPUTS];
    float l3Bias;
};

struct AccumulatorCache;

struct Network {
    FeatureTransformer* transformer = nullptr;  // 64-byte aligned, owned
    LayerStack* stacks = nullptr;               // NETWORK_LAYER_STACKS of them, 64-byte aligned, owned
    // Different for every network made in this process (never 0): refresh
    // caches filled from one network must not serve another that happens to
    // be allocated at the same address.
    uint64_t serial;

    Network();
    ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;
};

// The raw network output for the side to move: brings the accumulators of pos
// (and of the ancestors it walks through) up to date, then runs the layer
// stack of the position's material bucket. pos must be the top of a chain of
// intact parent records. With a cache (the evaluating thread's), refreshes
// start from it.
int32_t networkEvaluate(const Network& net, Position& pos, AccumulatorCache* cache = nullptr);
