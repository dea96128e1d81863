// The marks of a scrambled weights file: the values its first two words must
// both take, and the key its payload is XORed with.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

// Kept in ascending order, so membership is a binary search.
inline constexpr std::array<uint32_t, 32> NETWORK_MAGIC_SET = {
    0x05F88ECF, 0x064575F5, 0x09EF9DD3, 0x0A50AAC5, 0x0B7B22BF, 0x0E7D7A61, 0x10EFACCD, 0x119B945D,
    0x127C3DCB, 0x15C3C8FF, 0x18DAEB0B, 0x1A369EB7, 0x1A9F211D, 0x1C8581E3, 0x1E42F259, 0x23348A1D,
    0x263C649B, 0x26F2A927, 0x27601EFD, 0x29BDA755, 0x2BFCD0F3, 0x2D45E185, 0x3426A22F, 0x34A1BFE9,
    0x35D64709, 0x367964D1, 0x3681EC45, 0x3A4268D7, 0x3A617F9B, 0x3AFB257F, 0x3B36A7D9, 0x3B6F8D65,
};
static_assert(std::is_sorted(NETWORK_MAGIC_SET.begin(), NETWORK_MAGIC_SET.end()));

// Whether a file word is one of the container marks.
constexpr bool isNetworkMagic(uint32_t word) {
    return std::binary_search(NETWORK_MAGIC_SET.begin(), NETWORK_MAGIC_SET.end(), word);
}

// The payload is XORed in whole blocks of this key's length, byte i of a
// block with key byte i.
inline constexpr char NETWORK_SCRAMBLE_KEY[] = "Amber fjord, nineteen willows and a heron";
constexpr size_t NETWORK_SCRAMBLE_KEY_LENGTH = sizeof(NETWORK_SCRAMBLE_KEY) - 1;
static_assert(NETWORK_SCRAMBLE_KEY_LENGTH == 41);
