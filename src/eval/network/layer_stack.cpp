#include "eval/network/layer_stack.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "board/bitboard.h"

namespace {

constexpr int HALF = NETWORK_HIDDEN / 2;  // sums paired per perspective

// The first layer's 16th output is not an input of the second layer; it goes
// straight to the result, scaled by 9600 / 8128.
constexpr int SHORTCUT = L1_OUTPUTS - 1;
static_assert(L2_INPUTS == 2 * SHORTCUT);

// Dot product of N floats kept in eight interleaved partial sums, added up in
// a fixed order at the end: the shape lets the compiler use vector lanes
// without reordering any float addition.
template <int N>
float laneDot(const float* w, const float* x) {
    float lane[8] = {};
    for (int c = 0; c + 8 <= N; c += 8)
        for (int l = 0; l < 8; l++) lane[l] += w[c + l] * x[c + l];
    for (int l = 0; l < N % 8; l++) lane[l] += w[N / 8 * 8 + l] * x[N / 8 * 8 + l];
    return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

// The first layer's inputs in groups of four (one 32-bit lane of a vector).
constexpr int INPUT_GROUPS = NETWORK_HIDDEN / 4;
static_assert(INPUT_GROUPS % 64 == 0);

// Above a quarter of the live groups non-zero, the dense kernels are faster
// than the sparse ones (nnue_bench measures both).
constexpr int denseAboveGroups(int livePairs) {
    return 2 * livePairs / 4 / 4;
}

// Whether the 64 groups of mask word w (inputs 256w..256w+255) belong to live
// pairs; dead ones are all zero and never looked at.
constexpr bool liveWord(int w, int livePairs) {
    return 256 * w % HALF < livePairs;
}
static_assert(DEAD_PAIR_STEP % 256 == 0 && HALF % 256 == 0);

inline int countNonZeroGroups(const uint64_t* masks) {
    int count = 0;
    for (int w = 0; w < INPUT_GROUPS / 64; w++) count += __builtin_popcountll(masks[w]);
    return count;
}

// Lists the indices of the set bits of masks[0..INPUT_GROUPS / 64), in order;
// returns how many there are.
inline int listNonZeroGroups(const uint64_t* masks, uint16_t* out) {
    int count = 0;
    for (int w = 0; w < INPUT_GROUPS / 64; w++)
        for (uint64_t bits = masks[w]; bits; bits &= bits - 1)
            out[count++] = uint16_t(64 * w + __builtin_ctzll(bits));
    return count;
}

// The group of four transformed bytes at `group`, as one 32-bit number.
inline int32_t inputGroup(const uint8_t* transformed, int group) {
    int32_t value;
    std::memcpy(&value, transformed + 4 * group, 4);
    return value;
}

constexpr float SQUARE_SCALE = 0x1p-19f;
constexpr float LINEAR_SCALE = 0x1p-6f;

// Adds the shortcut (the 16th first-layer output, truncated, times 9600 / 8128
// in integers) and truncates. The result is kept inside the 32-bit range even
// for absurd weights.
int32_t finishResult(float result, int32_t shortcutSum) {
    int64_t shortcut = int64_t(float(shortcutSum));
    result += float(shortcut * 9600 / 8128);
    return int32_t(std::trunc(std::clamp(result, -2.0e9f, 2.0e9f)));
}

}  // namespace

// Counted from the piece sets rather than taken from the position's phase,
// which other code may scale differently.
int layerStackBucket(const Position& pos) {
    auto both = [&](PieceType t) { return popcount(pos.pieces[WHITE][t] | pos.pieces[BLACK][t]); };
    int material = 3 * both(KNIGHT) + 4 * both(BISHOP) + 8 * both(ROOK) + 18 * both(QUEEN);
    return (std::min(material, 95) * 171) >> 11;
}

// Plain C++ transform; clamping first keeps the product within 16 bits. The
// dead pairs' bytes are 0 whatever their sums hold.
void transformScalar(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs) {
    const int16_t* sides[2] = {us, them};
    for (int side = 0; side < 2; side++) {
        const int16_t* sums = sides[side];
        for (int j = 0; j < livePairs; j++) {
            int a = std::clamp<int>(sums[j], 0, 127);
            int b = std::clamp<int>(sums[j + HALF], 0, 127);
            out[side * HALF + j] = uint8_t((a * b) >> 7);
        }
        std::memset(out + side * HALF + livePairs, 0, HALF - livePairs);
    }
}

void arrangeFirstLayerWeights(LayerStack& stack) {
    for (int g = 0; g < NETWORK_HIDDEN / 4; g++)
        for (int o = 0; o < L1_OUTPUTS; o++)
            for (int k = 0; k < 4; k++)
                stack.l1WeightsByGroup[g][o * 4 + k] = stack.l1Weights[o * NETWORK_HIDDEN + 4 * g + k];
}

// Plain C++ first layer; the dot product fits 32 bits (1536 * 126 * 128) and
// the bias is added with wrapping, as the vector kernel does.
void firstLayerScalar(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs) {
    for (int o = 0; o < L1_OUTPUTS; o++) {
        const int8_t* weights = stack.l1Weights + o * NETWORK_HIDDEN;
        int32_t dot = 0;
        for (int half = 0; half < NETWORK_HIDDEN; half += HALF)
            for (int j = half; j < half + livePairs; j++) dot += int32_t(transformed[j]) * weights[j];
        sums[o] = int32_t(uint32_t(stack.l1Biases[o]) + uint32_t(dot));
    }
}

// Plain C++ sparse first layer: the products of each non-zero group of four
// inputs, added in 32-bit integers with wrapping like the dense kernels.
void firstLayerSparseScalar(const LayerStack& stack, const uint8_t* transformed, int32_t* sums,
                            int livePairs) {
    uint32_t acc[L1_OUTPUTS] = {};
    for (int g = 0; g < NETWORK_HIDDEN / 4; g++) {
        if (!liveWord(g / 64, livePairs)) continue;
        const uint8_t* in = transformed + 4 * g;
        if ((in[0] | in[1] | in[2] | in[3]) == 0) continue;
        const int8_t* row = stack.l1WeightsByGroup[g];
        for (int o = 0; o < L1_OUTPUTS; o++)
            for (int k = 0; k < 4; k++) acc[o] += uint32_t(int32_t(in[k]) * row[o * 4 + k]);
    }
    for (int o = 0; o < L1_OUTPUTS; o++) sums[o] = int32_t(uint32_t(stack.l1Biases[o]) + acc[o]);
}

#if defined(__AVX2__)

namespace {

// Adds the products of 32 unsigned bytes (0..126) and 32 signed weights to the
// eight 32-bit lanes of acc, four products per lane. Without VNNI this goes
// through 16-bit pair sums, which cannot saturate: 2 * 126 * 128 = 32256.
inline __m256i addDot(__m256i acc, __m256i bytes, __m256i weights) {
#if defined(__AVX512VNNI__) && defined(__AVX512VL__)
    return _mm256_dpbusd_epi32(acc, bytes, weights);
#elif defined(__AVXVNNI__)
    return _mm256_dpbusd_avx_epi32(acc, bytes, weights);
#else
    __m256i pairs = _mm256_maddubs_epi16(bytes, weights);
    return _mm256_add_epi32(acc, _mm256_madd_epi16(pairs, _mm256_set1_epi16(1)));
#endif
}

// Horizontal sums of eight registers, as one register: lane k = sum of v[k].
inline __m256i sumEachInt(const __m256i* v) {
    __m256i s01 = _mm256_hadd_epi32(v[0], v[1]);
    __m256i s23 = _mm256_hadd_epi32(v[2], v[3]);
    __m256i s45 = _mm256_hadd_epi32(v[4], v[5]);
    __m256i s67 = _mm256_hadd_epi32(v[6], v[7]);
    __m256i s0123 = _mm256_hadd_epi32(s01, s23);  // low halves of 0..3, then high halves
    __m256i s4567 = _mm256_hadd_epi32(s45, s67);
    return _mm256_add_epi32(_mm256_permute2x128_si256(s0123, s4567, 0x20),
                            _mm256_permute2x128_si256(s0123, s4567, 0x31));
}

}  // namespace

// AVX2 transform: 32 outputs per round. The pack instruction interleaves the
// 128-bit halves, and the permute puts them back in order.
void transformVector(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi16(127);
    const int16_t* sides[2] = {us, them};
    for (int side = 0; side < 2; side++) {
        const int16_t* sums = sides[side];
        for (int j = 0; j < livePairs; j += 32) {
            auto clamped = [&](int at) {
                __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + at));
                return _mm256_max_epi16(_mm256_min_epi16(v, top), zero);
            };
            __m256i p0 = _mm256_srli_epi16(_mm256_mullo_epi16(clamped(j), clamped(j + HALF)), 7);
            __m256i p1 = _mm256_srli_epi16(_mm256_mullo_epi16(clamped(j + 16), clamped(j + HALF + 16)), 7);
            __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(p0, p1), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + side * HALF + j), packed);
        }
        std::memset(out + side * HALF + livePairs, 0, HALF - livePairs);
    }
}

// AVX2 sparse first layer: eight groups per register compare give a mask of
// the non-zero groups; a mostly non-zero input goes to the dense kernel, which
// is faster then. Otherwise per non-zero group the four inputs are broadcast
// and multiplied with the group's 64-byte row, sixteen outputs in two registers.
void firstLayerSparseVector(const LayerStack& stack, const uint8_t* transformed, int32_t* sums,
                            int livePairs) {
    uint64_t masks[INPUT_GROUPS / 64];
    const __m256i zero = _mm256_setzero_si256();
    for (int w = 0; w < INPUT_GROUPS / 64; w++) {
        uint64_t mask = 0;
        for (int r = 0; r < 8 && liveWord(w, livePairs); r++) {
            __m256i bytes =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(transformed + 256 * w + 32 * r));
            unsigned zeroLanes = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(bytes, zero)));
            mask |= uint64_t(~zeroLanes & 0xFF) << (8 * r);
        }
        masks[w] = mask;
    }
    if (countNonZeroGroups(masks) > denseAboveGroups(livePairs))
        return firstLayerVector(stack, transformed, sums, livePairs);
    uint16_t nonZero[INPUT_GROUPS];
    const int count = listNonZeroGroups(masks, nonZero);

    __m256i low = _mm256_setzero_si256(), high = _mm256_setzero_si256();
    for (int i = 0; i < count; i++) {
        const int g = nonZero[i];
        const __m256i in = _mm256_set1_epi32(inputGroup(transformed, g));
        const int8_t* row = stack.l1WeightsByGroup[g];
        low = addDot(low, in, _mm256_load_si256(reinterpret_cast<const __m256i*>(row)));
        high = addDot(high, in, _mm256_load_si256(reinterpret_cast<const __m256i*>(row + 32)));
    }
    const __m256i* biases = reinterpret_cast<const __m256i*>(stack.l1Biases);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums), _mm256_add_epi32(low, _mm256_load_si256(biases)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + 8),
                        _mm256_add_epi32(high, _mm256_load_si256(biases + 1)));
}

// AVX2 first layer: eight outputs at a time, each input register loaded once
// per pass and multiplied with the eight outputs' weights. (More outputs per
// pass would hide the multiply-add latency better, but their sums would not
// fit in 16 registers.)
void firstLayerVector(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs) {
    static_assert(L1_OUTPUTS % 8 == 0 && NETWORK_HIDDEN % 32 == 0);
    for (int first = 0; first < L1_OUTPUTS; first += 8) {
        __m256i acc[8];
        for (int k = 0; k < 8; k++) acc[k] = _mm256_setzero_si256();
        const int8_t* weights = stack.l1Weights + first * NETWORK_HIDDEN;
        for (int half = 0; half < NETWORK_HIDDEN; half += HALF)
            for (int j = half; j < half + livePairs; j += 32) {
                __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(transformed + j));
#pragma GCC unroll 8
                for (int k = 0; k < 8; k++)
                    acc[k] = addDot(acc[k], bytes,
                                    _mm256_load_si256(
                                        reinterpret_cast<const __m256i*>(weights + k * NETWORK_HIDDEN + j)));
            }
        __m256i biases = _mm256_load_si256(reinterpret_cast<const __m256i*>(stack.l1Biases + first));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + first),
                            _mm256_add_epi32(sumEachInt(acc), biases));
    }
}

#endif

#if defined(__AVX512BW__) && defined(__AVX512VNNI__)

// 512-bit transform: the AVX2 one twice as wide. The pack works per 128-bit
// quarter, and the permute puts the eight 64-bit pieces back in order.
void transformWide(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i top = _mm512_set1_epi16(127);
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    const int16_t* sides[2] = {us, them};
    for (int side = 0; side < 2; side++) {
        const int16_t* sums = sides[side];
        for (int j = 0; j < livePairs; j += 64) {
            auto clamped = [&](int at) {
                return _mm512_max_epi16(_mm512_min_epi16(_mm512_loadu_si512(sums + at), top), zero);
            };
            __m512i p0 = _mm512_srli_epi16(_mm512_mullo_epi16(clamped(j), clamped(j + HALF)), 7);
            __m512i p1 = _mm512_srli_epi16(_mm512_mullo_epi16(clamped(j + 32), clamped(j + HALF + 32)), 7);
            __m512i packed = _mm512_maskz_permutexvar_epi64(0xFF, order, _mm512_packus_epi16(p0, p1));
            _mm512_storeu_si512(out + side * HALF + j, packed);
        }
        std::memset(out + side * HALF + livePairs, 0, HALF - livePairs);
    }
}

// acc + the dot products of 4-byte groups of unsigned `bytes` and signed
// `weights`, per 32-bit lane. Written as assembly because GCC 12 copies every
// accumulator to another register around the intrinsic in loops.
inline __m512i addDotWide(__m512i acc, __m512i bytes, const int8_t* weights) {
    asm("vpdpbusd %2, %1, %0" : "+v"(acc) : "v"(bytes), "m"(*reinterpret_cast<const __m512i*>(weights)));
    return acc;
}

// 512-bit first layer: eight outputs per pass, with two sums per output (even
// and odd 64-byte blocks of the input) so that sixteen independent
// multiply-add chains hide the instruction's latency.
void firstLayerWide(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs) {
    static_assert(L1_OUTPUTS % 8 == 0 && NETWORK_HIDDEN % 128 == 0);
    for (int first = 0; first < L1_OUTPUTS; first += 8) {
        __m512i even[8], odd[8];
        for (int k = 0; k < 8; k++) even[k] = odd[k] = _mm512_setzero_si512();
        const int8_t* weights = stack.l1Weights + first * NETWORK_HIDDEN;
        for (int half = 0; half < NETWORK_HIDDEN; half += HALF)
            for (int j = half; j < half + livePairs; j += 128) {
                __m512i evenBytes = _mm512_loadu_si512(transformed + j);
                __m512i oddBytes = _mm512_loadu_si512(transformed + j + 64);
#pragma GCC unroll 8
                for (int k = 0; k < 8; k++) {
                    even[k] = addDotWide(even[k], evenBytes, weights + k * NETWORK_HIDDEN + j);
                    odd[k] = addDotWide(odd[k], oddBytes, weights + k * NETWORK_HIDDEN + j + 64);
                }
            }
        // Fold each output's sums to 256 bits, then add up the lanes as the AVX2
        // kernel does. (The zero-masked extracts keep GCC 12 from warning about
        // the undefined source inside the plain ones.)
        __m256i halves[8];
        for (int k = 0; k < 8; k++) {
            __m512i both = _mm512_add_epi32(even[k], odd[k]);
            halves[k] = _mm256_add_epi32(_mm512_maskz_extracti64x4_epi64(0xF, both, 0),
                                         _mm512_maskz_extracti64x4_epi64(0xF, both, 1));
        }
        __m256i biases = _mm256_load_si256(reinterpret_cast<const __m256i*>(stack.l1Biases + first));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + first),
                            _mm256_add_epi32(sumEachInt(halves), biases));
    }
}

// 512-bit sparse first layer: sixteen groups per register test give a mask
// of the non-zero groups; a mostly non-zero input goes to the dense kernel.
// Otherwise one multiply-add per non-zero group covers all sixteen outputs;
// four sums take turns so that the multiply-adds do not wait on each other.
void firstLayerSparseWide(const LayerStack& stack, const uint8_t* transformed, int32_t* sums, int livePairs) {
    uint64_t masks[INPUT_GROUPS / 64];
    for (int w = 0; w < INPUT_GROUPS / 64; w++) {
        uint64_t mask = 0;
        for (int r = 0; r < 4 && liveWord(w, livePairs); r++) {
            __m512i bytes = _mm512_loadu_si512(transformed + 256 * w + 64 * r);
            mask |= uint64_t(_mm512_test_epi32_mask(bytes, bytes)) << (16 * r);
        }
        masks[w] = mask;
    }
    if (countNonZeroGroups(masks) > denseAboveGroups(livePairs))
        return firstLayerWide(stack, transformed, sums, livePairs);
    uint16_t nonZero[INPUT_GROUPS];
    const int count = listNonZeroGroups(masks, nonZero);

    __m512i acc[4] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                      _mm512_setzero_si512()};
    int i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; k++) {
            const int g = nonZero[i + k];
            acc[k] =
                addDotWide(acc[k], _mm512_set1_epi32(inputGroup(transformed, g)), stack.l1WeightsByGroup[g]);
        }
    for (; i < count; i++) {
        const int g = nonZero[i];
        acc[0] = addDotWide(acc[0], _mm512_set1_epi32(inputGroup(transformed, g)), stack.l1WeightsByGroup[g]);
    }
    __m512i total = _mm512_add_epi32(_mm512_add_epi32(acc[0], acc[1]), _mm512_add_epi32(acc[2], acc[3]));
    _mm512_storeu_si512(sums, _mm512_add_epi32(total, _mm512_load_si512(stack.l1Biases)));
}

#endif

// Dispatches to the fastest transform the build has.
void transformFeatures(const int16_t* us, const int16_t* them, uint8_t* out, int livePairs) {
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
    transformWide(us, them, out, livePairs);
#elif defined(__AVX2__)
    transformVector(us, them, out, livePairs);
#else
    transformScalar(us, them, out, livePairs);
#endif
}

// Plain C++ float layers, in single precision: squared and linear activations
// of the first 15 outputs feed 32 clipped units, which feed the single output;
// the shortcut is added last. Conversions to integers truncate.
int32_t outputLayersScalar(const LayerStack& stack, const int32_t* firstLayerSums) {
    float x[L2_INPUTS];
    for (int i = 0; i < SHORTCUT; i++) {
        float y = float(firstLayerSums[i]);
        x[i] = std::min(y * y * SQUARE_SCALE, 127.0f);
        x[SHORTCUT + i] = std::min(std::max(y, 0.0f) * LINEAR_SCALE, 127.0f);
    }
    float hidden[L2_OUTPUTS];
    for (int k = 0; k < L2_OUTPUTS; k++) {
        float z = stack.l2Biases[k] + laneDot<L2_INPUTS>(stack.l2Weights + k * L2_INPUTS, x);
        hidden[k] = std::min(std::max(z, 0.0f) * LINEAR_SCALE, 127.0f);
    }
    float result = stack.l3Bias + laneDot<L2_OUTPUTS>(stack.l3Weights, hidden);
    return finishResult(result, firstLayerSums[SHORTCUT]);
}

#if defined(__AVX2__)

namespace {

// Float sums of eight registers, as one register: lane k = sum of v[k], each
// added up as ((0 + 1) + (2 + 3)) + ((4 + 5) + (6 + 7)), the order laneDot uses.
inline __m256 sumEachFloat(const __m256* v) {
    __m256 s01 = _mm256_hadd_ps(v[0], v[1]);
    __m256 s23 = _mm256_hadd_ps(v[2], v[3]);
    __m256 s45 = _mm256_hadd_ps(v[4], v[5]);
    __m256 s67 = _mm256_hadd_ps(v[6], v[7]);
    __m256 s0123 = _mm256_hadd_ps(s01, s23);
    __m256 s4567 = _mm256_hadd_ps(s45, s67);
    return _mm256_add_ps(_mm256_permute2f128_ps(s0123, s4567, 0x20),
                         _mm256_permute2f128_ps(s0123, s4567, 0x31));
}

// min(max(v, 0) * 2^-6, 127), the clipped linear activation.
inline __m256 clippedLinear(__m256 v) {
    return _mm256_min_ps(_mm256_mul_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(LINEAR_SCALE)),
                         _mm256_set1_ps(127.0f));
}

}  // namespace

// AVX2 float layers: the same arithmetic as outputLayersScalar in the same
// order (eight lanes per dot product), eight second-layer outputs at a time.
int32_t outputLayersVector(const LayerStack& stack, const int32_t* firstLayerSums) {
    // The inputs of the second layer, padded with zeros to four registers. The
    // linear half is stored over the 16th squared value (the shortcut's).
    alignas(32) float x[32];
    for (int half = 0; half < 2; half++) {
        __m256 y = _mm256_cvtepi32_ps(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstLayerSums + 8 * half)));
        __m256 squared = _mm256_min_ps(_mm256_mul_ps(_mm256_mul_ps(y, y), _mm256_set1_ps(SQUARE_SCALE)),
                                       _mm256_set1_ps(127.0f));
        _mm256_store_ps(x + 8 * half, squared);
    }
    for (int half = 0; half < 2; half++) {
        __m256 y = _mm256_cvtepi32_ps(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(firstLayerSums + 8 * half)));
        _mm256_storeu_ps(x + SHORTCUT + 8 * half, clippedLinear(y));
    }
    x[30] = x[31] = 0.0f;
    __m256 inputs[4];
    for (int c = 0; c < 4; c++) inputs[c] = _mm256_load_ps(x + 8 * c);
    // Each row has 30 weights: the last register of a row reads only six.
    const __m256i lastSix = _mm256_setr_epi32(-1, -1, -1, -1, -1, -1, 0, 0);

    alignas(32) float hidden[L2_OUTPUTS];
    for (int group = 0; group < L2_OUTPUTS; group += 8) {
        __m256 dots[8];
        for (int k = 0; k < 8; k++) {
            const float* w = stack.l2Weights + (group + k) * L2_INPUTS;
            __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(w), inputs[0]);
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_loadu_ps(w + 8), inputs[1]));
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_loadu_ps(w + 16), inputs[2]));
            dots[k] = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_maskload_ps(w + 24, lastSix), inputs[3]));
        }
        __m256 z = _mm256_add_ps(_mm256_load_ps(stack.l2Biases + group), sumEachFloat(dots));
        _mm256_store_ps(hidden + group, clippedLinear(z));
    }

    __m256 acc = _mm256_mul_ps(_mm256_load_ps(stack.l3Weights), _mm256_load_ps(hidden));
    for (int c = 8; c < L2_OUTPUTS; c += 8)
        acc = _mm256_add_ps(acc,
                            _mm256_mul_ps(_mm256_load_ps(stack.l3Weights + c), _mm256_load_ps(hidden + c)));
    __m256 pairs = _mm256_hadd_ps(acc, acc);
    __m256 quads = _mm256_hadd_ps(pairs, pairs);
    float dot = _mm_cvtss_f32(_mm256_castps256_ps128(quads)) + _mm_cvtss_f32(_mm256_extractf128_ps(quads, 1));
    return finishResult(stack.l3Bias + dot, firstLayerSums[SHORTCUT]);
}

#endif

// Dispatches to the fastest float layers the build has.
int32_t outputLayers(const LayerStack& stack, const int32_t* firstLayerSums) {
#if defined(__AVX2__)
    return outputLayersVector(stack, firstLayerSums);
#else
    return outputLayersScalar(stack, firstLayerSums);
#endif
}

// The whole stack with this build's first-layer kernel.
int32_t propagateLayerStack(const LayerStack& stack, const uint8_t* transformed, int livePairs) {
    alignas(32) int32_t sums[L1_OUTPUTS];
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
    firstLayerSparseWide(stack, transformed, sums, livePairs);
#elif defined(__AVX2__)
    firstLayerSparseVector(stack, transformed, sums, livePairs);
#else
    firstLayerSparseScalar(stack, transformed, sums, livePairs);
#endif
    return outputLayers(stack, sums);
}
