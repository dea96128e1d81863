// The network after the feature transformer: the transform of both
// perspectives' sums into 1536 bytes, and one of eight small layer stacks
// (1536 -> 16 -> 32 -> 1) chosen by the material on the board.
//
// Every part comes as a plain C++ kernel and, where AVX2 is available, a
// 256-bit kernel; the integer parts also have 512-bit kernels where AVX-512
// with VNNI is available. The integer parts (transform and first layer) give
// identical results with every kernel; the float layers are one function per
// build, shared by all the integer kernels, so those lead to the same final
// score. Each build uses its widest kernels; the narrower ones stay compiled
// so that tests can compare them all.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/network/network.h"

constexpr int TRANSFORMED_BYTES = NETWORK_HIDDEN;  // 768 per perspective

// Every pair worked: the kernels' `livePairs` for a network without dead pairs.
constexpr int ALL_PAIRS = NETWORK_HIDDEN / 2;

// The layer stack for the material on the board: 3 per knight, 4 per bishop,
// 8 per rook, 18 per queen of both colours, capped at 95, in eight bands of 12.
int layerStackBucket(const Position& pos);

// Pairs up each perspective's sums (j with j + 768, each clamped to 0..127) and
// writes their scaled products (0..126): first the side to move's 768 bytes
// (`us`), then the other side's (`them`). `out` holds TRANSFORMED_BYTES. Pairs
// from livePairs on (a multiple of DEAD_PAIR_STEP) are not read and give 0.
void transformScalar(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs);
#if defined(__AVX2__)
void transformVector(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs);
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
void transformWide(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs);
#endif
void transformFeatures(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs);

// Fills l1WeightsByGroup from l1Weights; whoever fills l1Weights calls it.
void arrangeFirstLayerWeights(LayerStack& stack);

// The first layer: bias plus the dot product of the transformed bytes with
// each output's int8 weights, for all L1_OUTPUTS outputs. These dense kernels
// read l1Weights; the plain one is the reference for all others. Every
// first-layer kernel skips the inputs of dead pairs (from livePairs on in
// each half), which the transform left at 0.
void firstLayerScalar(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs);
#if defined(__AVX2__)
void firstLayerVector(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs);
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
void firstLayerWide(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs);
#endif

// The same sums from l1WeightsByGroup, skipping every group of four inputs
// that are all zero. After the clipped products many are (with the built-in
// network nearly all), so these are the kernels the evaluation uses.
void firstLayerSparseScalar(const LayerStack& stack, const uint8_t* transformed, int32_t* sums,
                            int livePairs);
#if defined(__AVX2__)
void firstLayerSparseVector(const LayerStack& stack, const uint8_t* transformed, int32_t* sums,
                            int livePairs);
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
void firstLayerSparseWide(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs);
#endif

// The float layers after the first one, and the first layer's shortcut output,
// giving the stack's result from its L1_OUTPUTS first-layer sums. Both
// versions add in the same order, but floats may round differently (fused
// multiply-adds), so they can differ by one; within one build every path
// uses outputLayers.
int32_t outputLayersScalar(const LayerStack& stack, const int32_t* firstLayerSums);
#if defined(__AVX2__)
int32_t outputLayersVector(const LayerStack& stack, const int32_t* firstLayerSums);
#endif
int32_t outputLayers(const LayerStack& stack, const int32_t* firstLayerSums);

// The whole stack on transformed bytes, with the fastest kernels the build has.
int32_t propagateLayerStack(const LayerStack& stack, const uint8_t* transformed, int livePairs);
