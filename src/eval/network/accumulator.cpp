#include "eval/network/accumulator.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "board/bitboard.h"
#include "eval/network/features.h"

namespace {

// The PSQT sums start from zero on a refresh (the PSQT part has no biases).
alignas(64) constexpr int32_t ZeroPsqt[NETWORK_PSQT_BUCKETS] = {};

// A refresh removes nothing.
const FeatureList NoFeatures{};

}  // namespace

// Plain C++ kernel: for each step, copy the previous sums and apply the
// columns one by one. Conversions back to 16 and 32 bits wrap, as the vector
// kernel's additions do.
void applyStepsScalar(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount) {
    for (int s = 0; s < stepCount; s++) {
        const AccumulatorStep& step = steps[s];
        for (int i = 0; i < NETWORK_HIDDEN; i++) step.sums[i] = sums[i];
        for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++) step.psqt[i] = psqt[i];
        for (int r = 0; r < step.removed->count; r++) {
            const int16_t* column = ft.weights + size_t(step.removed->index[r]) * NETWORK_HIDDEN;
            const int32_t* psqtColumn =
                ft.psqtWeights + size_t(step.removed->index[r]) * NETWORK_PSQT_BUCKETS;
            for (int i = 0; i < NETWORK_HIDDEN; i++) step.sums[i] = int16_t(step.sums[i] - column[i]);
            for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++)
                step.psqt[i] = int32_t(uint32_t(step.psqt[i]) - uint32_t(psqtColumn[i]));
        }
        for (int a = 0; a < step.added->count; a++) {
            const int16_t* column = ft.weights + size_t(step.added->index[a]) * NETWORK_HIDDEN;
            const int32_t* psqtColumn = ft.psqtWeights + size_t(step.added->index[a]) * NETWORK_PSQT_BUCKETS;
            for (int i = 0; i < NETWORK_HIDDEN; i++) step.sums[i] = int16_t(step.sums[i] + column[i]);
            for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++)
                step.psqt[i] = int32_t(uint32_t(step.psqt[i]) + uint32_t(psqtColumn[i]));
        }
        sums = step.sums;
        psqt = step.psqt;
    }
}

#if defined(__AVX2__)

namespace {

// 256 sums (16 registers of 16 lanes) are one tile: a tile is loaded once,
// every column of every step is applied to it in registers, and each step
// stores its result on the way.
constexpr int TILE_VALUES = 256;
constexpr int TILE_REGISTERS = TILE_VALUES / 16;
static_assert(NETWORK_HIDDEN % TILE_VALUES == 0);
static_assert(NETWORK_PSQT_BUCKETS == 8, "the PSQT sums are one register");

}  // namespace

// AVX2 kernel: the same sums as applyStepsScalar, tile by tile. The step
// fields are copied into locals first: vector stores may alias anything, and
// the compiler would otherwise reload them after every store.
void applyStepsVector(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount) {
    int16_t* out[MAX_ACCUMULATOR_STEPS];
    const FeatureList* removed[MAX_ACCUMULATOR_STEPS];
    const FeatureList* added[MAX_ACCUMULATOR_STEPS];
    for (int s = 0; s < stepCount; s++) {
        out[s] = steps[s].sums;
        removed[s] = steps[s].removed;
        added[s] = steps[s].added;
    }

    for (int base = 0; base < NETWORK_HIDDEN; base += TILE_VALUES) {
        __m256i tile[TILE_REGISTERS];
#pragma GCC unroll 16
        for (int i = 0; i < TILE_REGISTERS; i++)
            tile[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + base + 16 * i));
        for (int s = 0; s < stepCount; s++) {
            for (int r = 0; r < removed[s]->count; r++) {
                const int16_t* column = ft.weights + size_t(removed[s]->index[r]) * NETWORK_HIDDEN + base;
#pragma GCC unroll 16
                for (int i = 0; i < TILE_REGISTERS; i++)
                    tile[i] = _mm256_sub_epi16(
                        tile[i], _mm256_load_si256(reinterpret_cast<const __m256i*>(column + 16 * i)));
            }
            for (int a = 0; a < added[s]->count; a++) {
                const int16_t* column = ft.weights + size_t(added[s]->index[a]) * NETWORK_HIDDEN + base;
#pragma GCC unroll 16
                for (int i = 0; i < TILE_REGISTERS; i++)
                    tile[i] = _mm256_add_epi16(
                        tile[i], _mm256_load_si256(reinterpret_cast<const __m256i*>(column + 16 * i)));
            }
            int16_t* destination = out[s] + base;
#pragma GCC unroll 16
            for (int i = 0; i < TILE_REGISTERS; i++)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + 16 * i), tile[i]);
        }
    }

    __m256i psqtTile = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(psqt));
    for (int s = 0; s < stepCount; s++) {
        const AccumulatorStep& step = steps[s];
        for (int r = 0; r < step.removed->count; r++)
            psqtTile = _mm256_sub_epi32(
                psqtTile, _mm256_load_si256(reinterpret_cast<const __m256i*>(
                              ft.psqtWeights + size_t(step.removed->index[r]) * NETWORK_PSQT_BUCKETS)));
        for (int a = 0; a < step.added->count; a++)
            psqtTile = _mm256_add_epi32(
                psqtTile, _mm256_load_si256(reinterpret_cast<const __m256i*>(
                              ft.psqtWeights + size_t(step.added->index[a]) * NETWORK_PSQT_BUCKETS)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(step.psqt), psqtTile);
    }
}

#endif

// Dispatches to the fastest kernel the build has.
void applySteps(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                const AccumulatorStep* steps, int stepCount) {
#if defined(__AVX2__)
    applyStepsVector(ft, sums, psqt, steps, stepCount);
#else
    applyStepsScalar(ft, sums, psqt, steps, stepCount);
#endif
}

// Lists the features of every piece on the board, square by square.
void collectActiveFeatures(const Position& pos, Color perspective, FeatureList& out) {
    Square king = pos.kingSquare[perspective];
    for (Bitboard b = pos.occupied; b;) {
        Square s = popLsb(b);
        out.push(featureIndex(perspective, king, pos.board[s], s));
    }
}

// A dirty piece with a from square left it (a removed feature); one with a to
// square arrived there (an added feature). A promotion lists the pawn with no
// to square and the new piece with no from square; a capture lists the
// captured piece with no to square.
void collectChangedFeatures(const DirtyPieces& dirty, Color perspective, Square ownKing, FeatureList& removed,
                            FeatureList& added) {
    for (int i = 0; i < dirty.count; i++) {
        if (dirty.from[i] != SQ_NONE)
            removed.push(featureIndex(perspective, ownKing, dirty.piece[i], dirty.from[i]));
        if (dirty.to[i] != SQ_NONE)
            added.push(featureIndex(perspective, ownKing, dirty.piece[i], dirty.to[i]));
    }
}

// A refresh costs one column per piece, whatever happened before.
void refreshAccumulator(const FeatureTransformer& ft, Position& pos, Color perspective) {
    FeatureList active;
    collectActiveFeatures(pos, perspective, active);
    AccumulatorStep step{pos.accumulation[perspective], pos.psqtAccumulation[perspective], &NoFeatures,
                         &active};
    applySteps(ft, ft.biases, ZeroPsqt, &step, 1);
    pos.computed[perspective] = true;
}

// Walks back from pos to the nearest record whose sums are valid, and updates
// from there when that is cheaper than a refresh: a move of our own king
// changes every feature (it picks the bucket and the orientation), and each
// record walked costs its dirty count plus one against a budget of the piece
// count, roughly the columns a refresh would apply.
//
// The update is done in (at most) two steps in one pass over the sums: first
// the oldest uncomputed record `next` (its own move's changes), then pos (the
// changes of every record after `next`). Keeping `next` valid lets the other
// children of the same node start from it.
AccumulatorWork updateAccumulator(const FeatureTransformer& ft, Position& pos, Color perspective) {
    if (pos.computed[perspective]) return AccumulatorWork::None;

    const Piece ownKing = makePiece(perspective, KING);
    const Position* st = &pos;
    const Position* next = nullptr;
    int gain = pos.pieceCount;
    while (st->parent && !st->computed[perspective]) {
        if (st->dirtyPieces.count > 0 && st->dirtyPieces.piece[0] == ownKing) break;
        gain -= st->dirtyPieces.count + 1;
        if (gain < 0) break;
        next = st;
        st = st->parent;
    }

    if (!st->computed[perspective] || !next) {
        refreshAccumulator(ft, pos, perspective);
        return AccumulatorWork::Refresh;
    }

    // No move on the path moved our king, so its current square holds for all of them.
    Square king = pos.kingSquare[perspective];
    FeatureList removed[2], added[2];
    collectChangedFeatures(next->dirtyPieces, perspective, king, removed[0], added[0]);
    for (const Position* p = &pos; p != next; p = p->parent)
        collectChangedFeatures(p->dirtyPieces, perspective, king, removed[1], added[1]);

    // The parent links are const because moves only read their parents; the
    // records themselves belong to this thread's stack and keep the sums.
    Position& stepRecord = const_cast<Position&>(*next);
    AccumulatorStep steps[2] = {
        {stepRecord.accumulation[perspective], stepRecord.psqtAccumulation[perspective], &removed[0],
         &added[0]},
        {pos.accumulation[perspective], pos.psqtAccumulation[perspective], &removed[1], &added[1]},
    };
    applySteps(ft, st->accumulation[perspective], st->psqtAccumulation[perspective], steps,
               next == &pos ? 1 : 2);
    stepRecord.computed[perspective] = true;
    pos.computed[perspective] = true;
    return AccumulatorWork::Incremental;
}
