#include "eval/network/accumulator_cache.h"

#include <algorithm>

#include "board/bitboard.h"
#include "eval/network/accumulator.h"
#include "eval/network/features.h"

void resetAccumulatorCache(AccumulatorCache& cache, const Network& net) {
    for (auto& side : cache.entries)
        for (AccumulatorCacheEntry& entry : side) {
            std::copy(std::begin(net.transformer->biases), std::end(net.transformer->biases), entry.sums);
            std::fill(std::begin(entry.psqt), std::end(entry.psqt), 0);
            for (auto& colour : entry.pieces) std::fill(std::begin(colour), std::end(colour), 0);
        }
    cache.networkSerial = net.serial;
}

// One kernel run: the entry's sums become the sums for pos (the differing
// pieces removed and added), and the second step copies them into pos.
void refreshAccumulatorFromCache(const FeatureTransformer& ft, AccumulatorCache& cache, Position& pos,
                                 Color perspective) {
    const Square king = Square(pos.kingSquare[perspective]);
    AccumulatorCacheEntry& entry = cache.entries[perspective][king];
    FeatureList removed, added;
    for (Color c : {WHITE, BLACK})
        for (int t = PAWN; t <= KING; t++) {
            const Bitboard now = pos.pieces[c][t], before = entry.pieces[c][t];
            if (now == before) continue;
            const Piece piece = makePiece(c, PieceType(t));
            for (Bitboard b = before & ~now; b;)
                removed.push(featureIndex(perspective, king, piece, popLsb(b)));
            for (Bitboard b = now & ~before; b;)
                added.push(featureIndex(perspective, king, piece, popLsb(b)));
            entry.pieces[c][t] = now;
        }
    static const FeatureList none{};
    AccumulatorStep steps[2] = {
        {entry.sums, entry.psqt, &removed, &added},
        {pos.accumulation[perspective], pos.psqtAccumulation[perspective], &none, &none},
    };
    applySteps(ft, entry.sums, entry.psqt, steps, 2);
    pos.computed[perspective] = true;
}
