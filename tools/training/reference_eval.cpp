#include "training/reference_eval.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int HALF = NETWORK_HIDDEN / 2;
constexpr int PLANE = 704;        // features per king bucket
constexpr int KING_OFFSET = 640;  // both kings share the last 64 features of a plane

// The feature of `piece` on `square` for `perspective`, whose king is on
// `king`: Black looks from its own side (ranks flipped), and a king on the
// a-d files flips the files too. The buckets number the oriented king squares
// of the e-h files from h8 (0) back to e1 (31).
int feature(int perspective, int king, int piece, int square) {
    const int flip = ((king & 7) < 4 ? 7 : 0) ^ (perspective == 1 ? 56 : 0);
    const int orientedKing = king ^ flip;
    const int kingBucket = 4 * (7 - orientedKing / 8) + (7 - orientedKing % 8);
    const int type = piece & 7, colour = piece >> 3;
    const int offset = type == 6 ? KING_OFFSET : 128 * (type - 1) + (colour == perspective ? 0 : 64);
    return PLANE * kingBucket + offset + (square ^ flip);
}

}  // namespace

ReferenceEvaluation referenceEvaluate(const NetworkImage& net, const int board[64], int sideToMove) {
    ReferenceEvaluation e;
    int king[2] = {0, 0};
    int material = 0;
    constexpr int materialWeight[8] = {0, 0, 3, 4, 8, 18, 0, 0};
    for (int s = 0; s < 64; s++) {
        if ((board[s] & 7) == 6) king[board[s] >> 3] = s;
        material += materialWeight[board[s] & 7];
    }
    e.bucket = (std::min(material, 95) * 171) >> 11;

    // Sums wrap in 16 bits as the engine's do; PSQT sums in 32.
    int16_t sums[2][NETWORK_HIDDEN];
    int32_t psqt[2] = {0, 0};
    for (int p = 0; p < 2; p++) {
        for (int j = 0; j < NETWORK_HIDDEN; j++) sums[p][j] = net.ftBiases[j];
        for (int s = 0; s < 64; s++) {
            if (board[s] == 0) continue;
            const size_t f = size_t(feature(p, king[p], board[s], s));
            for (int j = 0; j < NETWORK_HIDDEN; j++)
                sums[p][j] = int16_t(sums[p][j] + net.ftWeights[f * NETWORK_HIDDEN + j]);
            psqt[p] = int32_t(uint32_t(psqt[p]) + uint32_t(net.psqt[f * NETWORK_PSQT_BUCKETS + e.bucket]));
        }
    }
    const int us = sideToMove, them = 1 - sideToMove;

    int32_t transformed[NETWORK_HIDDEN];
    for (int half = 0; half < 2; half++) {
        const int16_t* a = sums[half == 0 ? us : them];
        for (int j = 0; j < HALF; j++) {
            const int x = std::clamp<int>(a[j], 0, 127), y = std::clamp<int>(a[j + HALF], 0, 127);
            transformed[half * HALF + j] = (x * y) >> 7;
        }
    }

    const LayerStackImage& st = net.stacks[e.bucket];
    int32_t l1[L1_OUTPUTS];
    for (int o = 0; o < L1_OUTPUTS; o++) {
        int32_t sum = st.l1Biases[o];
        for (int j = 0; j < NETWORK_HIDDEN; j++) sum += transformed[j] * st.l1Weights[o * NETWORK_HIDDEN + j];
        l1[o] = sum;
    }
    float x[L2_INPUTS];
    for (int i = 0; i < 15; i++) {
        const float y = float(l1[i]);
        x[i] = std::min(y * y * 0x1p-19f, 127.0f);
        x[15 + i] = std::min(std::max(y, 0.0f) * 0x1p-6f, 127.0f);
    }
    float result = float(st.l3Bias);
    for (int k = 0; k < L2_OUTPUTS; k++) {
        float z = float(st.l2Biases[k]);
        for (int i = 0; i < L2_INPUTS; i++) z += float(st.l2Weights[k * L2_FILE_ROW + i]) * x[i];
        result += float(st.l3Weights[k]) * std::min(std::max(z, 0.0f) * 0x1p-6f, 127.0f);
    }
    // The shortcut: the 16th sum, truncated, rescaled from 8128 to 9600 units.
    const int64_t forward = int64_t(float(l1[15]));
    result += float(forward * 9600 / 8128);
    e.positional = int32_t(std::trunc(std::clamp(result, -2.0e9f, 2.0e9f)));
    e.psqtPart = int32_t((int64_t(psqt[us]) - int64_t(psqt[them])) / 2);
    e.raw = int32_t((int64_t(e.positional) + e.psqtPart) / NETWORK_OUTPUT_DIVISOR);
    return e;
}
