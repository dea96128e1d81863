// The float model of the evaluation network: the function the integer
// inference computes, in float units, with its backward pass.
//
// For a position with side to move `us` and perspectives us and them:
//   A_p = b0 + sum of the FT rows of p's active features        (1536 values)
//   h_p[j] = clamp(A_p[j], 0, 1) * clamp(A_p[j + 768], 0, 1) * 127/128
//   y = W1 [h_us, h_them] + b1                                  (16, stack by material)
//   u = [min(y_i^2 * 127/128, 1), clamp(y_i, 0, 1)] for i < 15  (30)
//   v = clamp(W2 u + b2, 0, 1)                                  (32)
//   F = W3 v + b3 + y_15 + (Q_us[bucket] - Q_them[bucket]) / 2
// and the engine's raw output is n = 600 F (see network_export.h for the
// integer scales that make this exact up to rounding).
//
// The FT has 768 extra "virtual" rows after the 22528 real ones (the
// factoriser): each real row stands for a king bucket, piece kind and
// oriented square, and its virtual partner for the piece kind and square
// alone, shared by all 32 king buckets. Training adds the partner to every
// real row; the export folds it in, which gives the same function.
//
// Width: only pairs j < width (accumulator columns j and j + 768) carry
// weights; the rest stay zero, so their products are zero and the engine's
// sparse first layer skips them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/types.h"
#include "eval/network/network.h"

constexpr int PAIRS = NETWORK_HIDDEN / 2;
constexpr int VIRTUAL_FEATURES = 768;  // 12 piece kinds x 64 oriented squares
constexpr int FT_ROWS = NETWORK_FEATURES + VIRTUAL_FEATURES;
constexpr int SHORTCUT_OUTPUT = L1_OUTPUTS - 1;
constexpr int STACKS = NETWORK_LAYER_STACKS;
constexpr int MAX_ACTIVE_FEATURES = 32;

// n = OUTPUT_UNITS * F.
constexpr float OUTPUT_UNITS = 600.0f;
// The sigmoid constant of the loss, in network units.
constexpr float LOSS_SCALE_K = 340.0f;

// Export bounds that training keeps: the L1 and L2 weights round to at most
// +-127 at scale 64, the L3 weights at scale 9600 / 127.
constexpr float HIDDEN_WEIGHT_LIMIT = 127.0f / 64.0f;
constexpr float OUTPUT_WEIGHT_LIMIT = 127.0f * 127.0f / 9600.0f;

// The small parameters sit in one flat array, stack after stack within each
// kind; a gradient buffer of the same layout serves the optimiser.
constexpr size_t L1_STACK_WEIGHTS = size_t(L1_OUTPUTS) * NETWORK_HIDDEN;  // output-major
constexpr size_t L2_STACK_WEIGHTS = size_t(L2_OUTPUTS) * L2_INPUTS;       // output-major
constexpr size_t L1_WEIGHTS_AT = 0;
constexpr size_t L1_BIASES_AT = L1_WEIGHTS_AT + STACKS * L1_STACK_WEIGHTS;
constexpr size_t L2_WEIGHTS_AT = L1_BIASES_AT + STACKS * L1_OUTPUTS;
constexpr size_t L2_BIASES_AT = L2_WEIGHTS_AT + STACKS * L2_STACK_WEIGHTS;
constexpr size_t L3_WEIGHTS_AT = L2_BIASES_AT + STACKS * L2_OUTPUTS;
constexpr size_t L3_BIASES_AT = L3_WEIGHTS_AT + STACKS * L2_OUTPUTS;
constexpr size_t FT_BIASES_AT = L3_BIASES_AT + STACKS;
constexpr size_t DENSE_PARAMETERS = FT_BIASES_AT + NETWORK_HIDDEN;

// A zero-filled float array taken from calloc: the pages of a large one cost
// nothing until written, so a model whose rows are mostly untouched (tests,
// narrow widths) stays cheap.
class FloatArray {
  public:
    explicit FloatArray(size_t size = 0);
    ~FloatArray();
    FloatArray(const FloatArray&) = delete;
    FloatArray& operator=(const FloatArray&) = delete;
    FloatArray(FloatArray&& other) noexcept;
    FloatArray& operator=(FloatArray&& other) noexcept;

    float* data() { return values; }
    const float* data() const { return values; }
    size_t size() const { return count; }
    float& operator[](size_t i) { return values[i]; }
    float operator[](size_t i) const { return values[i]; }
    // Sets every value to zero again.
    void clear();

  private:
    float* values = nullptr;
    size_t count = 0;
};

struct FloatModel {
    int width = PAIRS;                                       // trained pairs, 1..768
    FloatArray ftWeights{size_t(FT_ROWS) * NETWORK_HIDDEN};  // row-major by feature
    FloatArray psqtWeights{size_t(FT_ROWS) * NETWORK_PSQT_BUCKETS};
    FloatArray dense{DENSE_PARAMETERS};  // see the *_AT offsets
};

// One stack's parameters inside a flat dense array (the model's or a gradient's).
struct StackView {
    float* l1Weights;  // [16][1536]
    float* l1Biases;   // [16]
    float* l2Weights;  // [32][30]
    float* l2Biases;   // [32]
    float* l3Weights;  // [32]
    float* l3Bias;
};
StackView stackView(float* dense, int stack);

// A position as the model reads it.
struct ModelInput {
    // Real feature indices; [0] is the side to move's view, [1] the other side's.
    uint16_t features[2][MAX_ACTIVE_FEATURES];
    uint8_t count[2];
    uint8_t bucket;
    float target;  // training target: the side to move's expected score
    float result;  // the game's result for the side to move: 0, 0.5 or 1
};

// The layer stack of a board: 3 per knight, 4 per bishop, 8 per rook, 18 per
// queen of both colours, capped at 95, in eight bands of 12.
int materialBucket(const Piece board[64]);

// Fills the features and bucket of `out` from a board (target and result are
// left alone). False when a side has no king, or two, or a piece code is not
// a piece.
bool boardInput(const Piece board[64], Color sideToMove, ModelInput& out);

// The factoriser row of a real feature: 22528 + kind * 64 + oriented square,
// where the kind is the piece offset / 64 (0..10) and 11 for the opponent's
// king, which the real features share a plane with the own king.
int virtualFeature(int realFeature);

// The accumulator column of compact column c at the given width: compact
// columns 0..width-1 are pairs' first halves, width..2*width-1 their second.
inline int fullColumn(int c, int width) {
    return c < width ? c : PAIRS + (c - width);
}

// What the forward pass keeps for the backward pass.
struct Activations {
    alignas(64) float h[2][PAIRS];  // pair products, width values per perspective
    float y[L1_OUTPUTS];
    float u[L2_INPUTS];
    float z[L2_OUTPUTS];
    float v[L2_OUTPUTS];
    float output;  // F
};

// Everything after the FT sums: pair products, the stack of `bucket`, and the
// PSQT term already reduced to (Q_us - Q_them) / 2. `acc[p]` holds 2 * width
// compact columns. Returns F.
float forwardLayers(const float* dense, int width, int bucket, const float* const acc[2], float psqtTerm,
                    Activations& act);

// The backward pass of forwardLayers for dL/dF = dOutput: adds the stack's
// parameter gradients into `denseGradient` (the L1, L2 and L3 parts of the
// flat layout) and writes dL/dA (compact columns) into dAcc[0] and dAcc[1].
void backwardLayers(const float* dense, int width, int bucket, const float* const acc[2],
                    const Activations& act, float dOutput, float* denseGradient, float* const dAcc[2]);

// The win probability of a float output, and the squared-error loss against
// `target` with its derivative dL/dF.
float winProbability(float output);
float lossAndGradient(float output, float target, float& dOutput);

// The float output F of a position, straight from the full rows (factoriser
// rows added). For checks and tests; training goes through Trainer.
float modelOutput(const FloatModel& model, const ModelInput& input);

// Adds dL/dparameter for dL/dF = dOutput at `input` into `gradient` (which
// has the model's layout; its width is ignored), for every parameter the
// position reaches, factoriser rows included.
void addModelGradient(const FloatModel& model, const ModelInput& input, float dOutput, FloatModel& gradient);

// Starting weights: FT rows small and uniform around accumulators of 0.5, L1
// to L3 uniform with 1/sqrt(fan-in) and the same for all stacks, the output
// bias and the shortcut bias zero, PSQT rows at the piece values (own
// positive, the opponent's negative, kings 0). Columns beyond the width are
// zero.
void initialiseModel(FloatModel& model, int width, uint64_t seed);

// Zeroes every FT column and L1 input of the pairs at or beyond `width`
// and sets the model's width.
void restrictWidth(FloatModel& model, int width);

// Clips the L1, L2 and L3 weights to their export bounds.
void clipWeights(FloatModel& model);

// The real FT and PSQT rows with their factoriser rows added in, and the
// factoriser rows zero: the same function, in the layout the engine reads.
void coalesceFactoriser(FloatModel& model);

// The piece value (float units) that the PSQT starts at, by piece type.
float initialPieceValue(PieceType type);
