// Key tables for positions, pawn structures and material signatures.
//
// The values are fixed pseudo-random constants generated at compile time from
// a fixed seed. They must never change between builds: saved hash files hold
// keys made from them.
#pragma once

#include <array>
#include <cstddef>

#include "board/types.h"

namespace detail {

// splitmix64: a small, well-mixed generator that is easy to run at compile time.
struct KeyGenerator {
    uint64_t state;
    constexpr uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
};

using PieceSquareKeys = std::array<std::array<std::array<Key, 64>, 8>, 2>;

constexpr PieceSquareKeys pieceSquareKeys(uint64_t seed) {
    KeyGenerator gen{seed};
    PieceSquareKeys keys{};
    for (auto& colour : keys)
        for (auto& type : colour)
            for (auto& key : type) key = gen.next();
    return keys;
}

template <size_t N>
constexpr std::array<Key, N> keyList(uint64_t seed) {
    KeyGenerator gen{seed};
    std::array<Key, N> keys{};
    for (auto& key : keys) key = gen.next();
    return keys;
}

// Pawn-hash keys: only the pawn and king rows are used.
constexpr PieceSquareKeys pawnKeys(uint64_t seed) {
    PieceSquareKeys keys = pieceSquareKeys(seed);
    for (auto& colour : keys)
        for (int t = 0; t < 8; t++)
            if (t != PAWN && t != KING) colour[t] = {};
    return keys;
}

using MaterialTable = std::array<std::array<std::array<int64_t, 2>, 8>, 2>;

// Additive material signatures: one random value per (colour, type); bishops
// get a second value for the other square colour. Kings add nothing.
constexpr MaterialTable materialSignature(uint64_t seed) {
    KeyGenerator gen{seed};
    MaterialTable table{};
    for (int c = 0; c < 2; c++)
        for (int t = PAWN; t <= QUEEN; t++) {
            int64_t value = int64_t(gen.next());
            table[c][t][0] = value;
            table[c][t][1] = t == BISHOP ? int64_t(gen.next()) : value;
        }
    return table;
}

}  // namespace detail

// [colour][type][square]; the unused type-0 row gives the side-to-move keys:
// ZobristPiece[0][0][0] for white to move, ZobristPiece[0][0][1] for black.
inline constexpr detail::PieceSquareKeys ZobristPiece = detail::pieceSquareKeys(0x5AB1E0001ULL);
// Indexed by the whole castleLost byte: sixteen independent values.
inline constexpr std::array<Key, 16> ZobristCastle = detail::keyList<16>(0x5AB1E0002ULL);
inline constexpr std::array<Key, 64> ZobristEp = detail::keyList<64>(0x5AB1E0003ULL);
inline constexpr detail::PieceSquareKeys PawnZobrist = detail::pawnKeys(0x5AB1E0004ULL);
// [colour][type][1 = dark square].
inline constexpr detail::MaterialTable MaterialSignature = detail::materialSignature(0x5AB1E0005ULL);

inline constexpr Key SideKey[2] = {ZobristPiece[0][0][0], ZobristPiece[0][0][1]};
