// The feature-transformer sums ("accumulators") kept in each position record,
// and how they are brought up to date: incrementally from an ancestor's sums
// by the few pieces that moved since, or by a refresh from scratch.
//
// Sums wrap in 16 bits (feature sums) and 32 bits (PSQT sums), so the order in
// which columns are added never changes the result. The kernels that apply the
// columns give identical results: plain C++ for every processor, 256-bit
// vectors where AVX2 is available and 512-bit vectors where AVX-512 (with
// VNNI, the level the layer stacks need too) is. A build uses its widest
// kernel; the others stay compiled so that tests can compare them.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/network/accumulator_cache.h"
#include "eval/network/network.h"

// A position never has more pieces than squares, and the walk back never
// collects more changes than the piece count allows (see updateAccumulator).
constexpr int MAX_FEATURE_CHANGES = 64;

// A list of input features (indices into the feature transformer).
struct FeatureList {
    int count = 0;
    int index[MAX_FEATURE_CHANGES];

    void push(int feature) { index[count++] = feature; }
};

// One destination of a kernel run: its sums are the previous destination's
// (or the source's, for the first) minus the removed and plus the added columns.
struct AccumulatorStep {
    int16_t* sums;  // NETWORK_HIDDEN values
    int32_t* psqt;  // NETWORK_PSQT_BUCKETS values
    const FeatureList* removed;
    const FeatureList* added;
};

// What updateAccumulator had to do for one perspective.
enum class AccumulatorWork { None, Incremental, Refresh };

// An update writes the record after the valid one and the current record.
constexpr int MAX_ACCUMULATOR_STEPS = 2;

// Applies a chain of up to MAX_ACCUMULATOR_STEPS steps starting from `sums` /
// `psqt`. A destination may be the source itself. Only the live sums are read
// and written (see FeatureTransformer::deadPairs).
void applyStepsScalar(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount);
#if defined(__AVX2__)
void applyStepsVector(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount);
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
void applyStepsWide(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                    const AccumulatorStep* steps, int stepCount);
#endif
// The kernel this build uses.
void applySteps(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                const AccumulatorStep* steps, int stepCount);

// Every feature of the pieces on the board (both kings included) for `perspective`.
void collectActiveFeatures(const Position& pos, Color perspective, FeatureList& out);

// The features a move removed and added for `perspective`, whose king stands
// on `ownKing` (the move must not have moved that king).
void collectChangedFeatures(const DirtyPieces& dirty, Color perspective, Square ownKing, FeatureList& removed,
                            FeatureList& added);

// Sets the sums of `perspective` from scratch: biases plus the column of every active feature.
void refreshAccumulator(const FeatureTransformer& ft, Position& pos, Color perspective);

// Brings the sums of `perspective` in pos up to date, walking back through the
// parent records to the nearest one whose sums are valid. pos must be the top
// of a chain of intact records; the ancestor after the valid one gets its sums
// too, as a step on the way, so that sibling moves can start from it. A
// refresh goes through `cache` when there is one (see accumulator_cache.h).
AccumulatorWork updateAccumulator(const FeatureTransformer& ft, Position& pos, Color perspective,
                                  AccumulatorCache* cache = nullptr);
