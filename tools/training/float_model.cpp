#include "training/float_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "eval/network/features.h"

namespace {

// The integer product (a * b) >> 7 of two clamped sums of 127 is 127 times
// the float product scaled by this.
constexpr float PRODUCT_SCALE = 127.0f / 128.0f;

constexpr int KING_PLANE = 10;          // piece offset / 64 of the shared king plane
constexpr int OPPONENT_KING_KIND = 11;  // its factoriser kind for the opponent's king

// The oriented own-king square of each king bucket (files e-h).
constexpr std::array<int, 32> kingSquareOfBucket() {
    std::array<int, 32> squares{};
    for (int s = 0; s < 64; s++)
        if (fileOf(s) >= 4) squares[KingBucket[s]] = s;
    return squares;
}
constexpr std::array<int, 32> KING_SQUARE_OF_BUCKET = kingSquareOfBucket();

template <typename T>
struct StackParameters {
    T* l1Weights;
    T* l1Biases;
    T* l2Weights;
    T* l2Biases;
    T* l3Weights;
    T* l3Bias;
};

template <typename T>
StackParameters<T> stackOf(T* dense, int stack) {
    return {dense + L1_WEIGHTS_AT + stack * L1_STACK_WEIGHTS, dense + L1_BIASES_AT + stack * L1_OUTPUTS,
            dense + L2_WEIGHTS_AT + stack * L2_STACK_WEIGHTS, dense + L2_BIASES_AT + stack * L2_OUTPUTS,
            dense + L3_WEIGHTS_AT + stack * L2_OUTPUTS,       dense + L3_BIASES_AT + stack};
}

// Dot product in sixteen interleaved partial sums: float additions cannot be
// reordered by the compiler, but sixteen independent chains are a shape it
// turns into vector multiply-adds.
float dot(const float* __restrict a, const float* __restrict b, int n) {
    constexpr int LANES = 16;
    float lane[LANES] = {};
    int i = 0;
    for (; i + LANES <= n; i += LANES)
        for (int l = 0; l < LANES; l++) lane[l] += a[i + l] * b[i + l];
    for (int l = 0; i + l < n; l++) lane[l] += a[i + l] * b[i + l];
    float sum = 0.0f;
    for (int l = 0; l < LANES; l++) sum += lane[l];
    return sum;
}

// y[i] += k * x[i].
void addScaled(float* __restrict y, const float* __restrict x, float k, int n) {
    for (int i = 0; i < n; i++) y[i] += k * x[i];
}

float clamp01(float x) {
    return std::min(std::max(x, 0.0f), 1.0f);
}

bool isPieceCode(Piece p) {
    return typeOf(p) >= PAWN && typeOf(p) <= KING && (p & ~15) == 0;
}

}  // namespace

FloatArray::FloatArray(size_t size) : count(size) {
    if (size == 0) return;
    values = static_cast<float*>(std::calloc(size, sizeof(float)));
    if (!values) throw std::bad_alloc();
}

FloatArray::~FloatArray() {
    std::free(values);
}

FloatArray::FloatArray(FloatArray&& other) noexcept : values(other.values), count(other.count) {
    other.values = nullptr;
    other.count = 0;
}

FloatArray& FloatArray::operator=(FloatArray&& other) noexcept {
    std::swap(values, other.values);
    std::swap(count, other.count);
    return *this;
}

void FloatArray::clear() {
    if (values) std::memset(values, 0, count * sizeof(float));
}

StackView stackView(float* dense, int stack) {
    StackParameters<float> s = stackOf(dense, stack);
    return {s.l1Weights, s.l1Biases, s.l2Weights, s.l2Biases, s.l3Weights, s.l3Bias};
}

int materialBucket(const Piece board[64]) {
    constexpr int weight[8] = {0, 0, 3, 4, 8, 18, 0, 0};
    int material = 0;
    for (int s = 0; s < 64; s++) material += weight[typeOf(board[s])];
    return (std::min(material, 95) * 171) >> 11;
}

// Squares in ascending order, the side to move's view first.
bool boardInput(const Piece board[64], Color sideToMove, ModelInput& out) {
    int kings[2] = {0, 0};
    Square kingSquare[2] = {SQ_NONE, SQ_NONE};
    int pieces = 0;
    for (Square s = 0; s < 64; s++) {
        Piece p = board[s];
        if (p == NO_PIECE) continue;
        if (!isPieceCode(p)) return false;
        pieces++;
        if (typeOf(p) == KING) {
            kings[colorOf(p)]++;
            kingSquare[colorOf(p)] = s;
        }
    }
    if (kings[WHITE] != 1 || kings[BLACK] != 1 || pieces > MAX_ACTIVE_FEATURES) return false;

    const Color views[2] = {sideToMove, ~sideToMove};
    for (int v = 0; v < 2; v++) {
        int n = 0;
        for (Square s = 0; s < 64; s++)
            if (board[s] != NO_PIECE)
                out.features[v][n++] = uint16_t(featureIndex(views[v], kingSquare[views[v]], board[s], s));
        out.count[v] = uint8_t(n);
    }
    out.bucket = uint8_t(materialBucket(board));
    return true;
}

// The king bucket decides which king the shared plane means: the own king can
// only stand on the square its bucket stands for, and the opponent's never does.
int virtualFeature(int realFeature) {
    const int kingBucket = realFeature / FEATURES_PER_KING_BUCKET;
    const int within = realFeature % FEATURES_PER_KING_BUCKET;
    const int square = within % 64;
    int kind = within / 64;
    if (kind == KING_PLANE && square != KING_SQUARE_OF_BUCKET[kingBucket]) kind = OPPONENT_KING_KIND;
    return NETWORK_FEATURES + kind * 64 + square;
}

float forwardLayers(const float* dense, int width, int bucket, const float* const acc[2], float psqtTerm,
                    Activations& act) {
    const StackParameters<const float> stack = stackOf(dense, bucket);
    for (int p = 0; p < 2; p++) {
        const float* a = acc[p];
        for (int j = 0; j < width; j++) act.h[p][j] = clamp01(a[j]) * clamp01(a[width + j]) * PRODUCT_SCALE;
    }
    for (int o = 0; o < L1_OUTPUTS; o++) {
        const float* w = stack.l1Weights + o * NETWORK_HIDDEN;
        act.y[o] = stack.l1Biases[o] + dot(w, act.h[0], width) + dot(w + PAIRS, act.h[1], width);
    }
    for (int i = 0; i < SHORTCUT_OUTPUT; i++) {
        const float y = act.y[i];
        act.u[i] = std::min(y * y * PRODUCT_SCALE, 1.0f);
        act.u[SHORTCUT_OUTPUT + i] = clamp01(y);
    }
    float r = *stack.l3Bias;
    for (int k = 0; k < L2_OUTPUTS; k++) {
        act.z[k] = stack.l2Biases[k] + dot(stack.l2Weights + k * L2_INPUTS, act.u, L2_INPUTS);
        act.v[k] = clamp01(act.z[k]);
        r += stack.l3Weights[k] * act.v[k];
    }
    act.output = r + act.y[SHORTCUT_OUTPUT] + psqtTerm;
    return act.output;
}

// The clamps pass gradient only strictly inside their range; the squared
// activation only below its cap.
void backwardLayers(const float* dense, int width, int bucket, const float* const acc[2],
                    const Activations& act, float dOutput, float* denseGradient, float* const dAcc[2]) {
    const StackParameters<const float> stack = stackOf(dense, bucket);
    const StackParameters<float> grad = stackOf(denseGradient, bucket);

    float dz[L2_OUTPUTS];
    *grad.l3Bias += dOutput;
    for (int k = 0; k < L2_OUTPUTS; k++) {
        grad.l3Weights[k] += dOutput * act.v[k];
        const bool inside = act.z[k] > 0.0f && act.z[k] < 1.0f;
        dz[k] = inside ? dOutput * stack.l3Weights[k] : 0.0f;
    }
    float du[L2_INPUTS] = {};
    for (int k = 0; k < L2_OUTPUTS; k++) {
        if (dz[k] == 0.0f) continue;
        grad.l2Biases[k] += dz[k];
        addScaled(grad.l2Weights + k * L2_INPUTS, act.u, dz[k], L2_INPUTS);
        addScaled(du, stack.l2Weights + k * L2_INPUTS, dz[k], L2_INPUTS);
    }
    float dy[L1_OUTPUTS];
    for (int i = 0; i < SHORTCUT_OUTPUT; i++) {
        const float y = act.y[i];
        const float squared = y * y * PRODUCT_SCALE < 1.0f ? 2.0f * y * PRODUCT_SCALE : 0.0f;
        const float linear = y > 0.0f && y < 1.0f ? 1.0f : 0.0f;
        dy[i] = du[i] * squared + du[SHORTCUT_OUTPUT + i] * linear;
    }
    dy[SHORTCUT_OUTPUT] = dOutput;

    alignas(64) float dh[2][PAIRS];
    std::fill(dh[0], dh[0] + width, 0.0f);
    std::fill(dh[1], dh[1] + width, 0.0f);
    for (int o = 0; o < L1_OUTPUTS; o++) {
        if (dy[o] == 0.0f) continue;
        grad.l1Biases[o] += dy[o];
        float* gw = grad.l1Weights + o * NETWORK_HIDDEN;
        const float* w = stack.l1Weights + o * NETWORK_HIDDEN;
        for (int p = 0; p < 2; p++) {
            addScaled(gw + p * PAIRS, act.h[p], dy[o], width);
            addScaled(dh[p], w + p * PAIRS, dy[o], width);
        }
    }
    for (int p = 0; p < 2; p++) {
        const float* a = acc[p];
        float* d = dAcc[p];
        for (int j = 0; j < width; j++) {
            const float first = a[j], second = a[width + j];
            const float g = dh[p][j] * PRODUCT_SCALE;
            d[j] = first > 0.0f && first < 1.0f ? g * clamp01(second) : 0.0f;
            d[width + j] = second > 0.0f && second < 1.0f ? g * clamp01(first) : 0.0f;
        }
    }
}

float winProbability(float output) {
    return 1.0f / (1.0f + std::exp(-output * (OUTPUT_UNITS / LOSS_SCALE_K)));
}

// (q - t)^2 with q = sigma(600 F / K).
float lossAndGradient(float output, float target, float& dOutput) {
    const float q = winProbability(output);
    const float error = q - target;
    dOutput = 2.0f * error * q * (1.0f - q) * (OUTPUT_UNITS / LOSS_SCALE_K);
    return error * error;
}

namespace {

// The compact FT sums (2 * width columns) and bucket PSQT sums of one
// perspective from the full rows, factoriser rows included.
float accumulateFromRows(const FloatModel& model, const ModelInput& input, int view, float* acc) {
    const int width = model.width;
    const float* biases = model.dense.data() + FT_BIASES_AT;
    for (int c = 0; c < 2 * width; c++) acc[c] = biases[fullColumn(c, width)];
    float psqt = 0.0f;
    for (int k = 0; k < input.count[view]; k++) {
        const int real = input.features[view][k];
        for (int row : {real, virtualFeature(real)}) {
            const float* weights = model.ftWeights.data() + size_t(row) * NETWORK_HIDDEN;
            for (int c = 0; c < 2 * width; c++) acc[c] += weights[fullColumn(c, width)];
            psqt += model.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + input.bucket];
        }
    }
    return psqt;
}

}  // namespace

float modelOutput(const FloatModel& model, const ModelInput& input) {
    alignas(64) float acc[2][NETWORK_HIDDEN];
    const float us = accumulateFromRows(model, input, 0, acc[0]);
    const float them = accumulateFromRows(model, input, 1, acc[1]);
    const float* sums[2] = {acc[0], acc[1]};
    Activations act;
    return forwardLayers(model.dense.data(), model.width, input.bucket, sums, (us - them) / 2, act);
}

void addModelGradient(const FloatModel& model, const ModelInput& input, float dOutput, FloatModel& gradient) {
    const int width = model.width;
    alignas(64) float acc[2][NETWORK_HIDDEN];
    alignas(64) float dAcc[2][NETWORK_HIDDEN];
    const float us = accumulateFromRows(model, input, 0, acc[0]);
    const float them = accumulateFromRows(model, input, 1, acc[1]);
    const float* sums[2] = {acc[0], acc[1]};
    float* dSums[2] = {dAcc[0], dAcc[1]};
    Activations act;
    forwardLayers(model.dense.data(), width, input.bucket, sums, (us - them) / 2, act);
    backwardLayers(model.dense.data(), width, input.bucket, sums, act, dOutput, gradient.dense.data(), dSums);

    float* biasGradient = gradient.dense.data() + FT_BIASES_AT;
    for (int view = 0; view < 2; view++) {
        for (int c = 0; c < 2 * width; c++) biasGradient[fullColumn(c, width)] += dAcc[view][c];
        const float psqtGradient = view == 0 ? dOutput / 2 : -dOutput / 2;
        for (int k = 0; k < input.count[view]; k++) {
            const int real = input.features[view][k];
            for (int row : {real, virtualFeature(real)}) {
                float* weights = gradient.ftWeights.data() + size_t(row) * NETWORK_HIDDEN;
                for (int c = 0; c < 2 * width; c++) weights[fullColumn(c, width)] += dAcc[view][c];
                gradient.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + input.bucket] += psqtGradient;
            }
        }
    }
}

// Piece values in network units (about 190 to a pawn, the middlegame scale)
// in the ratios of the engine's material values, over 600 units per float unit.
float initialPieceValue(PieceType type) {
    constexpr float PAWN_UNITS = 190.0f;
    constexpr float RATIO[7] = {0, 1141, 4296, 4603, 7743, 15030, 0};
    return PAWN_UNITS * RATIO[type] / RATIO[PAWN] / OUTPUT_UNITS;
}

// Accumulators start around b0 = 0.5 with a spread of about 0.16 from some
// thirty rows of +-0.05, inside the clamps' linear range; the factoriser rows
// start at zero, so the first steps see the real rows only.
void initialiseModel(FloatModel& model, int width, uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto uniform = [&](float limit) { return std::uniform_real_distribution<float>(-limit, limit)(rng); };

    model.width = width;
    model.ftWeights.clear();
    model.psqtWeights.clear();
    model.dense.clear();
    for (int row = 0; row < NETWORK_FEATURES; row++) {
        float* weights = model.ftWeights.data() + size_t(row) * NETWORK_HIDDEN;
        for (int c = 0; c < 2 * width; c++) weights[fullColumn(c, width)] = uniform(0.05f);

        // Kinds 0..9 alternate own and opponent pawn..queen; 10 is the kings.
        const int kind = row % FEATURES_PER_KING_BUCKET / 64;
        const float value = kind == KING_PLANE ? 0.0f
                                               : initialPieceValue(PieceType(PAWN + kind / 2)) *
                                                     (kind % 2 == 0 ? 1.0f : -1.0f);
        for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++)
            model.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + b] = value;
    }
    float* dense = model.dense.data();
    for (int c = 0; c < 2 * width; c++) dense[FT_BIASES_AT + fullColumn(c, width)] = 0.5f;

    // One stack drawn, copied to all.
    StackView first = stackView(dense, 0);
    const float l1Limit = 1.0f / std::sqrt(float(2 * width));
    for (int o = 0; o < L1_OUTPUTS; o++) {
        for (int c = 0; c < 2 * width; c++)
            first.l1Weights[o * NETWORK_HIDDEN + fullColumn(c, width)] = uniform(l1Limit);
        first.l1Biases[o] = o == SHORTCUT_OUTPUT ? 0.0f : uniform(l1Limit);
    }
    const float l2Limit = 1.0f / std::sqrt(float(L2_INPUTS));
    for (size_t i = 0; i < L2_STACK_WEIGHTS; i++) first.l2Weights[i] = uniform(l2Limit);
    for (int k = 0; k < L2_OUTPUTS; k++) first.l2Biases[k] = uniform(l2Limit);
    const float l3Limit = 1.0f / std::sqrt(float(L2_OUTPUTS));
    for (int k = 0; k < L2_OUTPUTS; k++) first.l3Weights[k] = uniform(l3Limit);
    *first.l3Bias = 0.0f;
    for (int s = 1; s < STACKS; s++) {
        StackView other = stackView(dense, s);
        std::copy(first.l1Weights, first.l1Weights + L1_STACK_WEIGHTS, other.l1Weights);
        std::copy(first.l1Biases, first.l1Biases + L1_OUTPUTS, other.l1Biases);
        std::copy(first.l2Weights, first.l2Weights + L2_STACK_WEIGHTS, other.l2Weights);
        std::copy(first.l2Biases, first.l2Biases + L2_OUTPUTS, other.l2Biases);
        std::copy(first.l3Weights, first.l3Weights + L2_OUTPUTS, other.l3Weights);
        *other.l3Bias = *first.l3Bias;
    }
    clipWeights(model);
}

void restrictWidth(FloatModel& model, int width) {
    model.width = width;
    if (width >= PAIRS) return;
    auto zeroBeyondWidth = [&](float* columns) {
        std::fill(columns + width, columns + PAIRS, 0.0f);
        std::fill(columns + PAIRS + width, columns + NETWORK_HIDDEN, 0.0f);
    };
    for (int row = 0; row < FT_ROWS; row++)
        zeroBeyondWidth(model.ftWeights.data() + size_t(row) * NETWORK_HIDDEN);
    zeroBeyondWidth(model.dense.data() + FT_BIASES_AT);
    for (int s = 0; s < STACKS; s++)
        for (int o = 0; o < L1_OUTPUTS; o++)
            zeroBeyondWidth(stackView(model.dense.data(), s).l1Weights + o * NETWORK_HIDDEN);
}

void clipWeights(FloatModel& model) {
    float* dense = model.dense.data();
    auto clip = [](float* values, size_t n, float limit) {
        for (size_t i = 0; i < n; i++) values[i] = std::clamp(values[i], -limit, limit);
    };
    clip(dense + L1_WEIGHTS_AT, STACKS * L1_STACK_WEIGHTS, HIDDEN_WEIGHT_LIMIT);
    clip(dense + L2_WEIGHTS_AT, STACKS * L2_STACK_WEIGHTS, HIDDEN_WEIGHT_LIMIT);
    clip(dense + L3_WEIGHTS_AT, STACKS * L2_OUTPUTS, OUTPUT_WEIGHT_LIMIT);
}

// Real rows whose factoriser row is zero are left alone: adding zeros would
// only touch their memory.
void coalesceFactoriser(FloatModel& model) {
    bool used[VIRTUAL_FEATURES] = {};
    for (int v = 0; v < VIRTUAL_FEATURES; v++) {
        const size_t row = size_t(NETWORK_FEATURES + v);
        const float* w = model.ftWeights.data() + row * NETWORK_HIDDEN;
        const float* p = model.psqtWeights.data() + row * NETWORK_PSQT_BUCKETS;
        used[v] = std::any_of(w, w + NETWORK_HIDDEN, [](float x) { return x != 0.0f; }) ||
                  std::any_of(p, p + NETWORK_PSQT_BUCKETS, [](float x) { return x != 0.0f; });
    }
    for (int row = 0; row < NETWORK_FEATURES; row++) {
        const int partner = virtualFeature(row);
        if (!used[partner - NETWORK_FEATURES]) continue;
        addScaled(model.ftWeights.data() + size_t(row) * NETWORK_HIDDEN,
                  model.ftWeights.data() + size_t(partner) * NETWORK_HIDDEN, 1.0f, NETWORK_HIDDEN);
        addScaled(model.psqtWeights.data() + size_t(row) * NETWORK_PSQT_BUCKETS,
                  model.psqtWeights.data() + size_t(partner) * NETWORK_PSQT_BUCKETS, 1.0f,
                  NETWORK_PSQT_BUCKETS);
    }
    std::fill(model.ftWeights.data() + size_t(NETWORK_FEATURES) * NETWORK_HIDDEN,
              model.ftWeights.data() + model.ftWeights.size(), 0.0f);
    std::fill(model.psqtWeights.data() + size_t(NETWORK_FEATURES) * NETWORK_PSQT_BUCKETS,
              model.psqtWeights.data() + model.psqtWeights.size(), 0.0f);
}
