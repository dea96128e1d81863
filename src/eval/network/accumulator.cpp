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
// columns one by one, over the live sums only. Conversions back to 16 and 32
// bits wrap, as the vector kernel's additions do.
void applyStepsScalar(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount) {
    const int live = livePairs(ft);
    auto forLiveSums = [live](auto&& apply) {
        for (int half = 0; half < NETWORK_HIDDEN; half += NETWORK_HIDDEN / 2)
            for (int i = half; i < half + live; i++) apply(i);
    };
    for (int s = 0; s < stepCount; s++) {
        const AccumulatorStep& step = steps[s];
        forLiveSums([&](int i) { step.sums[i] = sums[i]; });
        for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++) step.psqt[i] = psqt[i];
        for (int r = 0; r < step.removed->count; r++) {
            const int16_t* column = ft.weights + size_t(step.removed->index[r]) * NETWORK_HIDDEN;
            const int32_t* psqtColumn =
                ft.psqtWeights + size_t(step.removed->index[r]) * NETWORK_PSQT_BUCKETS;
            forLiveSums([&](int i) { step.sums[i] = int16_t(step.sums[i] - column[i]); });
            for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++)
                step.psqt[i] = int32_t(uint32_t(step.psqt[i]) - uint32_t(psqtColumn[i]));
        }
        for (int a = 0; a < step.added->count; a++) {
            const int16_t* column = ft.weights + size_t(step.added->index[a]) * NETWORK_HIDDEN;
            const int32_t* psqtColumn = ft.psqtWeights + size_t(step.added->index[a]) * NETWORK_PSQT_BUCKETS;
            forLiveSums([&](int i) { step.sums[i] = int16_t(step.sums[i] + column[i]); });
            for (int i = 0; i < NETWORK_PSQT_BUCKETS; i++)
                step.psqt[i] = int32_t(uint32_t(step.psqt[i]) + uint32_t(psqtColumn[i]));
        }
        sums = step.sums;
        psqt = step.psqt;
    }
}

#if defined(__AVX2__)

namespace {

// The vector kernels are written once for both register widths; these give
// the few operations they need.
struct Lanes256 {
    using Register = __m256i;
    static constexpr int VALUES = 16;  // 16-bit sums per register
    static Register load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(int16_t* p, Register v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static Register add(Register a, Register b) { return _mm256_add_epi16(a, b); }
    static Register sub(Register a, Register b) { return _mm256_sub_epi16(a, b); }
};

#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
struct Lanes512 {
    using Register = __m512i;
    static constexpr int VALUES = 32;
    static Register load(const int16_t* p) { return _mm512_loadu_si512(p); }
    static void store(int16_t* p, Register v) { _mm512_storeu_si512(p, v); }
    static Register add(Register a, Register b) { return _mm512_add_epi16(a, b); }
    static Register sub(Register a, Register b) { return _mm512_sub_epi16(a, b); }
};
#endif

// A tile is a block of sums held in registers: it is loaded once, every
// column of every step is applied to it in registers, and each step stores
// its result on the way. 256 sums: 16 AVX2 registers or 8 AVX-512 ones
// (which leaves room for the loads). Dead pairs come in whole tiles.
constexpr int TILE = 256;
static_assert(DEAD_PAIR_STEP % TILE == 0 && (NETWORK_HIDDEN / 2) % TILE == 0);
constexpr int MAX_TILES = NETWORK_HIDDEN / TILE;

// The first sum of every live tile, in order: the live pairs' first sums,
// then their second sums. Returns how many there are.
int liveTileStarts(const FeatureTransformer& ft, int* starts) {
    int count = 0;
    for (int half = 0; half < NETWORK_HIDDEN; half += NETWORK_HIDDEN / 2)
        for (int base = half; base < half + livePairs(ft); base += TILE) starts[count++] = base;
    return count;
}

const int16_t* featureColumn(const FeatureTransformer& ft, int feature) {
    return ft.weights + size_t(feature) * NETWORK_HIDDEN;
}

const __m256i* psqtColumn(const FeatureTransformer& ft, int feature) {
    return reinterpret_cast<const __m256i*>(ft.psqtWeights + size_t(feature) * NETWORK_PSQT_BUCKETS);
}

// The PSQT sums are one AVX2 register, whatever the width of the others.
void applyPsqtSteps(const FeatureTransformer& ft, const int32_t* psqt, const AccumulatorStep* steps,
                    int stepCount) {
    static_assert(NETWORK_PSQT_BUCKETS == 8);
    __m256i sums = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(psqt));
    for (int s = 0; s < stepCount; s++) {
        for (int r = 0; r < steps[s].removed->count; r++)
            sums = _mm256_sub_epi32(sums, *psqtColumn(ft, steps[s].removed->index[r]));
        for (int a = 0; a < steps[s].added->count; a++)
            sums = _mm256_add_epi32(sums, *psqtColumn(ft, steps[s].added->index[a]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(steps[s].psqt), sums);
    }
}

// One step with R removed and A added columns, known at compile time: the
// shapes of single moves (quiet moves and promotions 1/1, captures 2/1,
// castling 2/2). Fully unrolled, this runs about half again as fast as the
// general loop (measured), which matters in the hottest code of the search.
template <typename Lanes, int R, int A>
void applyFixedStep(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                    const AccumulatorStep& step) {
    using Register = typename Lanes::Register;
    constexpr int VALUES = Lanes::VALUES, REGISTERS = TILE / VALUES;
    const int16_t* removed[R];
    const int16_t* added[A];
    for (int r = 0; r < R; r++) removed[r] = featureColumn(ft, step.removed->index[r]);
    for (int a = 0; a < A; a++) added[a] = featureColumn(ft, step.added->index[a]);

    int tiles[MAX_TILES];
    const int tileCount = liveTileStarts(ft, tiles);
    for (int t = 0; t < tileCount; t++) {
        const int base = tiles[t];
        Register acc[REGISTERS];
        for (int i = 0; i < REGISTERS; i++) acc[i] = Lanes::load(sums + base + i * VALUES);
        for (int r = 0; r < R; r++)
            for (int i = 0; i < REGISTERS; i++)
                acc[i] = Lanes::sub(acc[i], Lanes::load(removed[r] + base + i * VALUES));
        for (int a = 0; a < A; a++)
            for (int i = 0; i < REGISTERS; i++)
                acc[i] = Lanes::add(acc[i], Lanes::load(added[a] + base + i * VALUES));
        for (int i = 0; i < REGISTERS; i++) Lanes::store(step.sums + base + i * VALUES, acc[i]);
    }
    applyPsqtSteps(ft, psqt, &step, 1);
}

// Any number of steps and columns (refreshes, updates over several moves).
// The step fields are copied into locals first: vector stores may alias
// anything, and the compiler would otherwise reload them after every store.
template <typename Lanes>
void applyGeneralSteps(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                       const AccumulatorStep* steps, int stepCount) {
    using Register = typename Lanes::Register;
    constexpr int VALUES = Lanes::VALUES, REGISTERS = TILE / VALUES;
    int16_t* out[MAX_ACCUMULATOR_STEPS];
    const FeatureList* removed[MAX_ACCUMULATOR_STEPS];
    const FeatureList* added[MAX_ACCUMULATOR_STEPS];
    for (int s = 0; s < stepCount; s++) {
        out[s] = steps[s].sums;
        removed[s] = steps[s].removed;
        added[s] = steps[s].added;
    }

    int tiles[MAX_TILES];
    const int tileCount = liveTileStarts(ft, tiles);
    for (int t = 0; t < tileCount; t++) {
        const int base = tiles[t];
        Register acc[REGISTERS];
#pragma GCC unroll 16
        for (int i = 0; i < REGISTERS; i++) acc[i] = Lanes::load(sums + base + i * VALUES);
        for (int s = 0; s < stepCount; s++) {
            for (int r = 0; r < removed[s]->count; r++) {
                const int16_t* column = featureColumn(ft, removed[s]->index[r]) + base;
#pragma GCC unroll 16
                for (int i = 0; i < REGISTERS; i++)
                    acc[i] = Lanes::sub(acc[i], Lanes::load(column + i * VALUES));
            }
            for (int a = 0; a < added[s]->count; a++) {
                const int16_t* column = featureColumn(ft, added[s]->index[a]) + base;
#pragma GCC unroll 16
                for (int i = 0; i < REGISTERS; i++)
                    acc[i] = Lanes::add(acc[i], Lanes::load(column + i * VALUES));
            }
#pragma GCC unroll 16
            for (int i = 0; i < REGISTERS; i++) Lanes::store(out[s] + base + i * VALUES, acc[i]);
        }
    }
    applyPsqtSteps(ft, psqt, steps, stepCount);
}

// Picks the unrolled kernel for the shapes of single moves.
template <typename Lanes>
void applyVectorSteps(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount) {
    static_assert(TILE % Lanes::VALUES == 0);
    if (stepCount == 1) {
        const int removed = steps[0].removed->count, added = steps[0].added->count;
        if (removed == 1 && added == 1) return applyFixedStep<Lanes, 1, 1>(ft, sums, psqt, steps[0]);
        if (removed == 2 && added == 1) return applyFixedStep<Lanes, 2, 1>(ft, sums, psqt, steps[0]);
        if (removed == 2 && added == 2) return applyFixedStep<Lanes, 2, 2>(ft, sums, psqt, steps[0]);
    }
    applyGeneralSteps<Lanes>(ft, sums, psqt, steps, stepCount);
}

}  // namespace

// AVX2 kernel: the same sums as applyStepsScalar, tile by tile.
void applyStepsVector(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                      const AccumulatorStep* steps, int stepCount) {
    applyVectorSteps<Lanes256>(ft, sums, psqt, steps, stepCount);
}

#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
// AVX-512 kernel: half the instructions of the AVX2 one for the same sums.
void applyStepsWide(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                    const AccumulatorStep* steps, int stepCount) {
    applyVectorSteps<Lanes512>(ft, sums, psqt, steps, stepCount);
}
#endif

#endif

// Dispatches to the fastest kernel the build has.
void applySteps(const FeatureTransformer& ft, const int16_t* sums, const int32_t* psqt,
                const AccumulatorStep* steps, int stepCount) {
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
    applyStepsWide(ft, sums, psqt, steps, stepCount);
#elif defined(__AVX2__)
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
AccumulatorWork updateAccumulator(const FeatureTransformer& ft, Position& pos, Color perspective,
                                  AccumulatorCache* cache) {
    if (pos.computed[perspective]) return AccumulatorWork::None;

    const Piece ownKing = makePiece(perspective, KING);
    const Position* st = &pos;
    const Position* next = nullptr;
    int gain = pos.pieceCount;
    while (st->parent && !st->computed[perspective]) {
        // (A null move keeps its parent's entries, with a count of zero.)
        if (st->dirtyPieces.count > 0 && st->dirtyPieces.piece[0] == ownKing) break;
        gain -= st->dirtyPieces.count + 1;
        if (gain < 0) break;
        next = st;
        st = st->parent;
    }

    if (!st->computed[perspective] || !next) {
        if (cache)
            refreshAccumulatorFromCache(ft, *cache, pos, perspective);
        else
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
