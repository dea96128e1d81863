// The trainer's float model against the integer reference and the engine's
// own loader and inference, its backward pass against finite differences,
// the batched training path against the per-position gradient, the
// factoriser, and resuming from a checkpoint.
//
// The random networks fill only the FT rows that the test positions use, so
// that building them costs little; every other row stays zero.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "eval/network/features.h"
#include "eval/network/network.h"
#include "eval/network/network_loader.h"
#include "training/float_model.h"
#include "training/network_export.h"
#include "training/reference_eval.h"
#include "training/trainer.h"

namespace {

// Openings, middlegames and endings; kings on both wings (the mirroring),
// both sides to move, every material bucket from bare kings to the start.
const char* const FIXED_FENS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 0 1",
    "2kr3r/ppp2ppp/2n5/8/8/2N5/PPP2PPP/2KR3R b - - 0 1",
    "6k1/5ppp/8/8/8/8/5PPP/1R4K1 w - - 0 1",
    "8/8/4k3/8/8/8/4P3/4K3 w - - 0 1",
    "8/3kP3/8/4K3/8/8/8/8 b - - 0 1",
    "k7/8/8/8/8/8/8/7K w - - 0 1",
    "q5k1/5ppp/8/7Q/8/8/5PPP/6K1 w - - 0 1",
};

// The fixed positions and some from random games.
const std::vector<std::string>& testFens() {
    static const std::vector<std::string> fens = [] {
        std::vector<std::string> out(std::begin(FIXED_FENS), std::end(FIXED_FENS));
        std::mt19937 rng(7);
        for (int game = 0; game < 3; game++)
            randomWalk(START_FEN, 90, rng, [&](const Position&, const Position& child, Move) {
                if (child.gamePly % 6 != 0) return;
                char fen[128];
                writeFen(child, fen);
                out.push_back(fen);
            });
        return out;
    }();
    return fens;
}

ModelInput inputOf(const std::string& fen) {
    Position pos = fromFen(fen.c_str());
    Piece board[64];
    for (int s = 0; s < 64; s++) board[s] = pos.board[s];
    ModelInput input{};
    EXPECT_TRUE(boardInput(board, pos.sideToMove(), input)) << fen;
    return input;
}

std::vector<ModelInput> testInputs() {
    std::vector<ModelInput> inputs;
    for (const std::string& fen : testFens()) inputs.push_back(inputOf(fen));
    return inputs;
}

float uniform(std::mt19937& rng, float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

// Random weights at scales that put the sums on both sides of every clamp:
// the rows of the inputs' features (and their factoriser rows when asked),
// the FT biases and all small layers, within `model.width`.
void fillRandomModel(FloatModel& model, const std::vector<ModelInput>& inputs, bool factoriserRows,
                     uint32_t seed) {
    std::mt19937 rng(seed);
    const int width = model.width;
    std::vector<bool> filled(FT_ROWS);
    auto fillRow = [&](int row, float spread) {
        if (filled[row]) return;
        filled[row] = true;
        for (int c = 0; c < 2 * width; c++)
            model.ftWeights[size_t(row) * NETWORK_HIDDEN + fullColumn(c, width)] =
                uniform(rng, -spread, spread);
        for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++)
            model.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + b] = uniform(rng, -0.3f, 0.3f);
    };
    for (const ModelInput& in : inputs)
        for (int view = 0; view < 2; view++)
            for (int k = 0; k < in.count[view]; k++) {
                fillRow(in.features[view][k], 0.15f);
                if (factoriserRows) fillRow(virtualFeature(in.features[view][k]), 0.05f);
            }
    float* dense = model.dense.data();
    for (int c = 0; c < 2 * width; c++) dense[FT_BIASES_AT + fullColumn(c, width)] = uniform(rng, 0.2f, 0.8f);
    for (int s = 0; s < STACKS; s++) {
        StackView stack = stackView(dense, s);
        for (int o = 0; o < L1_OUTPUTS; o++) {
            for (int c = 0; c < 2 * width; c++)
                stack.l1Weights[o * NETWORK_HIDDEN + fullColumn(c, width)] = uniform(rng, -0.1f, 0.1f);
            stack.l1Biases[o] = uniform(rng, -0.3f, 0.3f);
        }
        for (size_t i = 0; i < L2_STACK_WEIGHTS; i++) stack.l2Weights[i] = uniform(rng, -0.6f, 0.6f);
        for (int k = 0; k < L2_OUTPUTS; k++) {
            stack.l2Biases[k] = uniform(rng, -0.3f, 0.3f);
            stack.l3Weights[k] = uniform(rng, -0.6f, 0.6f);
        }
        *stack.l3Bias = uniform(rng, -0.3f, 0.3f);
    }
}

ReferenceEvaluation referenceOf(const NetworkImage& net, const std::string& fen) {
    Position pos = fromFen(fen.c_str());
    int board[64];
    for (int s = 0; s < 64; s++) board[s] = pos.board[s];
    return referenceEvaluate(net, board, pos.sideToMove());
}

// One random factorised network of width 100 and its export, shared by the
// tests that only read them.
struct SharedNetwork {
    FloatModel model;
    NetworkImage image;
    QuantisationReport report;
    std::vector<uint8_t> plain, block;
};

const SharedNetwork& sharedNetwork() {
    static const std::unique_ptr<SharedNetwork> shared = [] {
        auto s = std::make_unique<SharedNetwork>();
        s->model.width = 100;
        fillRandomModel(s->model, testInputs(), true, 1);
        s->image = quantiseModel(s->model, s->report);
        s->plain = writePlainImage(s->image);
        s->block = compressBlock(s->plain);
        return s;
    }();
    return *shared;
}

struct Differences {
    double mean = 0, max = 0;
};

// |600 F - n| of a float model against the reference over the test positions.
Differences floatAgainstReference(const FloatModel& model, const NetworkImage& image) {
    Differences d;
    const std::vector<std::string>& fens = testFens();
    for (const std::string& fen : fens) {
        const double difference =
            std::abs(OUTPUT_UNITS * modelOutput(model, inputOf(fen)) - referenceOf(image, fen).raw);
        d.mean += difference / fens.size();
        d.max = std::max(d.max, difference);
    }
    return d;
}

TEST(TrainerFloatModel, MatchesTheIntegerReference) {
    const SharedNetwork& net = sharedNetwork();
    EXPECT_EQ(net.report.ftValuesSaturated, 0);
    EXPECT_EQ(net.report.hiddenValuesSaturated, 0);

    // The rounding of the weights, the floor of the products and the
    // truncations separate the two. With random weights the L1 rounding
    // (+-1/128 on 200 inputs) dominates: about 15 units on average.
    const Differences raw = floatAgainstReference(net.model, net.image);
    EXPECT_LT(raw.mean, 20.0);
    EXPECT_LT(raw.max, 60.0);

    // On the quantisation grid only the floors and truncations remain (about
    // 2.3 on average; leaving out the 127/128 of the products makes it 4.2).
    FloatModel grid;
    dequantiseImage(net.image, grid);
    const Differences onGrid = floatAgainstReference(grid, net.image);
    EXPECT_LT(onGrid.mean, 3.2);
    EXPECT_LT(onGrid.max, 10.0);

    // The scores must not be trivially small, or the comparison says nothing.
    double spread = 0;
    for (const std::string& fen : testFens()) spread += std::abs(referenceOf(net.image, fen).raw);
    EXPECT_GT(spread / testFens().size(), 50.0);
}

TEST(TrainerExport, EngineReadsTheExportAndAgreesWithTheReference) {
    const SharedNetwork& net = sharedNetwork();
    ASSERT_EQ(net.plain.size(), 70136670u);
    // The block inflates to the plain image, which the engine's reader parses.
    std::unique_ptr<Network> engineNet = loadFromMemory(net.block.data(), net.block.size());
    ASSERT_NE(engineNet, nullptr);

    int exact = 0;
    for (const std::string& fen : testFens()) {
        const int reference = referenceOf(net.image, fen).raw;
        Position pos = fromFen(fen.c_str());
        const int engine = networkEvaluate(*engineNet, pos);
        EXPECT_LE(std::abs(engine - reference), 1) << fen;
        exact += engine == reference;
    }
    EXPECT_GT(exact, int(testFens().size()) * 3 / 4);
}

TEST(TrainerExport, NetworkReadBackGivesTheSameImage) {
    const SharedNetwork& net = sharedNetwork();
    const std::string path = testing::TempDir() + "sable_trainer_" + std::to_string(getpid()) + ".nnz";
    ASSERT_TRUE(writeFileBytes(path, net.block));
    NetworkImage read;
    std::string error;
    ASSERT_TRUE(readNetworkFile(path, read, error)) << error;
    std::remove(path.c_str());
    EXPECT_TRUE(read.ftWeights == net.image.ftWeights && read.psqt == net.image.psqt);

    // Into the float model and out again: the same integers.
    FloatModel model;
    dequantiseImage(read, model);
    QuantisationReport report;
    const NetworkImage again = quantiseModel(model, report);
    EXPECT_TRUE(again.ftBiases == net.image.ftBiases);
    EXPECT_TRUE(again.ftWeights == net.image.ftWeights);
    EXPECT_TRUE(again.psqt == net.image.psqt);
    for (int s = 0; s < STACKS; s++) {
        EXPECT_TRUE(again.stacks[s].l1Weights == net.image.stacks[s].l1Weights) << s;
        EXPECT_EQ(again.stacks[s].l1Biases, net.image.stacks[s].l1Biases) << s;
        EXPECT_EQ(again.stacks[s].l2Weights, net.image.stacks[s].l2Weights) << s;
        EXPECT_EQ(again.stacks[s].l2Biases, net.image.stacks[s].l2Biases) << s;
        EXPECT_EQ(again.stacks[s].l3Weights, net.image.stacks[s].l3Weights) << s;
        EXPECT_EQ(again.stacks[s].l3Bias, net.image.stacks[s].l3Bias) << s;
    }

    // A wrong description is refused by both readers.
    std::vector<uint8_t> plain = net.plain;
    plain[12] ^= 1;
    EXPECT_FALSE(readPlainImage(plain, read));
    NetworkStream stream(plain.data(), plain.size());
    EXPECT_EQ(readPlainNetwork(stream), nullptr);
}

TEST(TrainerExport, PairsBeyondTheWidthAreZero) {
    const SharedNetwork& net = sharedNetwork();
    const int width = net.model.width;
    auto beyond = [&](int column) { return column % PAIRS >= width; };
    int nonZero = 0;
    const ModelInput start = inputOf(FIXED_FENS[0]);
    for (int k = 0; k < start.count[0]; k++)
        for (int c = 0; c < NETWORK_HIDDEN; c++)
            if (beyond(c))
                nonZero += net.image.ftWeights[size_t(start.features[0][k]) * NETWORK_HIDDEN + c] != 0;
    for (int c = 0; c < NETWORK_HIDDEN; c++)
        if (beyond(c)) nonZero += net.image.ftBiases[c] != 0;
    for (const LayerStackImage& stack : net.image.stacks)
        for (int o = 0; o < L1_OUTPUTS; o++)
            for (int c = 0; c < NETWORK_HIDDEN; c++)
                if (beyond(c)) nonZero += stack.l1Weights[o * NETWORK_HIDDEN + c] != 0;
    EXPECT_EQ(nonZero, 0);
}

TEST(TrainerFactoriser, VirtualRowsFollowPieceKindAndOrientedSquare) {
    for (const std::string& fen : testFens()) {
        Position pos = fromFen(fen.c_str());
        const ModelInput input = inputOf(fen);
        const Color views[2] = {pos.sideToMove(), ~pos.sideToMove()};
        for (int view = 0; view < 2; view++) {
            const Color perspective = views[view];
            int k = 0;
            for (Square s = 0; s < 64; s++) {
                const Piece p = pos.board[s];
                if (p == NO_PIECE) continue;
                const int oriented = s ^ orientation(perspective, pos.kingSquare[perspective]);
                const bool own = colorOf(p) == perspective;
                const int kind = typeOf(p) == KING ? (own ? 10 : 11) : 2 * (typeOf(p) - PAWN) + (own ? 0 : 1);
                EXPECT_EQ(virtualFeature(input.features[view][k++]), NETWORK_FEATURES + kind * 64 + oriented)
                    << fen << " square " << s;
            }
        }
    }
}

TEST(TrainerFactoriser, CoalescingKeepsTheOutput) {
    const std::vector<ModelInput> inputs = testInputs();
    FloatModel model;
    model.width = 32;
    fillRandomModel(model, inputs, true, 2);
    std::vector<float> before;
    for (const ModelInput& in : inputs) before.push_back(modelOutput(model, in));
    coalesceFactoriser(model);
    for (size_t i = 0; i < inputs.size(); i++)
        EXPECT_NEAR(modelOutput(model, inputs[i]), before[i], 1e-4) << i;
    for (size_t i = size_t(NETWORK_FEATURES) * NETWORK_HIDDEN; i < model.ftWeights.size(); i++)
        ASSERT_EQ(model.ftWeights[i], 0.0f);
}

// A named scalar of the model: where it lives and how to read it.
struct Parameter {
    const char* layer;
    float* (*locate)(FloatModel&, const ModelInput&, std::mt19937&);
};

// A feature of either view of the position.
int randomFeature(const ModelInput& in, std::mt19937& rng) {
    const int view = int(rng() % 2);
    return in.features[view][rng() % in.count[view]];
}

float* ftWeight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    const int row = randomFeature(in, rng);
    return &m.ftWeights[size_t(row) * NETWORK_HIDDEN + fullColumn(int(rng() % (2 * m.width)), m.width)];
}
float* ftVirtualWeight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    const int row = virtualFeature(randomFeature(in, rng));
    return &m.ftWeights[size_t(row) * NETWORK_HIDDEN + fullColumn(int(rng() % (2 * m.width)), m.width)];
}
float* ftBias(FloatModel& m, const ModelInput&, std::mt19937& rng) {
    return &m.dense[FT_BIASES_AT + fullColumn(int(rng() % (2 * m.width)), m.width)];
}
float* psqtWeight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    const int row = randomFeature(in, rng);
    return &m.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + in.bucket];
}
float* psqtVirtualWeight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    const int row = virtualFeature(randomFeature(in, rng));
    return &m.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + in.bucket];
}
float* l1Weight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    return stackView(m.dense.data(), in.bucket).l1Weights + (rng() % L1_OUTPUTS) * NETWORK_HIDDEN +
           fullColumn(int(rng() % (2 * m.width)), m.width);
}
float* l1Bias(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    return stackView(m.dense.data(), in.bucket).l1Biases + rng() % L1_OUTPUTS;
}
float* l2Weight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    return stackView(m.dense.data(), in.bucket).l2Weights + rng() % L2_STACK_WEIGHTS;
}
float* l2Bias(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    return stackView(m.dense.data(), in.bucket).l2Biases + rng() % L2_OUTPUTS;
}
float* l3Weight(FloatModel& m, const ModelInput& in, std::mt19937& rng) {
    return stackView(m.dense.data(), in.bucket).l3Weights + rng() % L2_OUTPUTS;
}
float* l3Bias(FloatModel& m, const ModelInput& in, std::mt19937&) {
    return stackView(m.dense.data(), in.bucket).l3Bias;
}

const Parameter PARAMETERS[] = {
    {"FT weight", ftWeight},
    {"FT factoriser weight", ftVirtualWeight},
    {"FT bias", ftBias},
    {"PSQT weight", psqtWeight},
    {"PSQT factoriser weight", psqtVirtualWeight},
    {"L1 weight", l1Weight},
    {"L1 bias", l1Bias},
    {"L2 weight", l2Weight},
    {"L2 bias", l2Bias},
    {"L3 weight", l3Weight},
    {"L3 bias", l3Bias},
};

// dF/dparameter from the backward pass against central differences, for
// random parameters of every kind reached by random positions. Differences
// across a clamp's corner are wrong by design; they are rare at this step
// and excused up to a few.
TEST(TrainerGradient, BackwardPassMatchesFiniteDifferences) {
    const std::vector<ModelInput> inputs = testInputs();
    FloatModel model, gradient;
    model.width = gradient.width = 48;
    fillRandomModel(model, inputs, true, 3);
    std::mt19937 rng(11);
    constexpr float STEP = 1e-3f;
    for (const Parameter& parameter : PARAMETERS) {
        int checked = 0, wrong = 0, nonZero = 0;
        for (int trial = 0; trial < 24; trial++) {
            const ModelInput& in = inputs[rng() % inputs.size()];
            std::mt19937 pick(rng());
            std::mt19937 again = pick;
            gradient.dense.clear();
            float* target = parameter.locate(gradient, in, again);
            // Only the rows this position reaches are written, so clear just the one read.
            *target = 0.0f;
            float* value = parameter.locate(model, in, pick);
            addModelGradient(model, in, 1.0f, gradient);
            const float analytic = *target;
            *target = 0.0f;

            const float original = *value;
            *value = original + STEP;
            const double up = modelOutput(model, in);
            *value = original - STEP;
            const double down = modelOutput(model, in);
            *value = original;
            const double numeric = (up - down) / (2 * STEP);
            checked++;
            nonZero += analytic != 0.0f;
            if (std::abs(numeric - analytic) > 2e-3 + 0.02 * std::abs(numeric)) wrong++;
        }
        EXPECT_LE(wrong, 2) << parameter.layer << ": " << wrong << " of " << checked;
        EXPECT_GE(nonZero, 3) << parameter.layer;
    }
}

// The trainer's compact, threaded, sorted path gives the same gradient as
// adding up the positions one by one.
TEST(TrainerGradient, BatchGradientEqualsTheSumOverPositions) {
    const std::vector<ModelInput> inputs = testInputs();
    FloatModel model;
    model.width = 40;
    fillRandomModel(model, inputs, true, 4);

    FloatModel expected;
    for (const ModelInput& in : inputs) {
        float dOutput;
        lossAndGradient(modelOutput(model, in), in.target, dOutput);
        addModelGradient(model, in, dOutput / float(inputs.size()), expected);
    }
    TrainerSettings settings;
    settings.threads = 2;
    settings.batchCapacity = int(inputs.size());
    Trainer trainer(model, settings);
    FloatModel actual;
    trainer.batchGradient(inputs.data(), int(inputs.size()), actual);

    auto close = [](float a, float b) { return std::abs(a - b) <= 1e-6f + 1e-4f * std::abs(b); };
    int differences = 0;
    for (size_t i = 0; i < DENSE_PARAMETERS; i++) differences += !close(actual.dense[i], expected.dense[i]);
    for (const ModelInput& in : inputs)
        for (int view = 0; view < 2; view++)
            for (int k = 0; k < in.count[view]; k++)
                for (int row : {int(in.features[view][k]), virtualFeature(in.features[view][k])}) {
                    for (int c = 0; c < NETWORK_HIDDEN; c++)
                        differences += !close(actual.ftWeights[size_t(row) * NETWORK_HIDDEN + c],
                                              expected.ftWeights[size_t(row) * NETWORK_HIDDEN + c]);
                    for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++)
                        differences += !close(actual.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + b],
                                              expected.psqtWeights[size_t(row) * NETWORK_PSQT_BUCKETS + b]);
                }
    EXPECT_EQ(differences, 0);
}

// Targets the model can learn quickly: the side to move's material balance.
std::vector<ModelInput> materialTargets() {
    std::vector<ModelInput> inputs = testInputs();
    for (size_t i = 0; i < inputs.size(); i++) {
        Position pos = fromFen(testFens()[i].c_str());
        float balance = 0;
        for (Square s = 0; s < 64; s++)
            if (pos.board[s] != NO_PIECE && typeOf(pos.board[s]) != KING)
                balance += (colorOf(pos.board[s]) == pos.sideToMove() ? 1.0f : -1.0f) *
                           initialPieceValue(typeOf(pos.board[s]));
        inputs[i].target = 1.0f / (1.0f + std::exp(-balance * 600.0f / 340.0f));
        inputs[i].result = 0.5f;
    }
    return inputs;
}

TEST(TrainerStep, LossFallsAndPairsBeyondTheWidthStayZero) {
    const std::vector<ModelInput> inputs = materialTargets();
    FloatModel model;
    initialiseModel(model, 8, 5);
    // Start away from the target: the PSQT material is what the targets hold.
    model.psqtWeights.clear();
    TrainerSettings settings;
    settings.batchCapacity = int(inputs.size());
    Trainer trainer(model, settings);
    const double first = trainer.evaluate(inputs.data(), inputs.size()).target;
    for (int step = 0; step < 60; step++) trainer.step(inputs.data(), int(inputs.size()), 0.01f);
    const double last = trainer.evaluate(inputs.data(), inputs.size()).target;
    EXPECT_LT(last, first * 0.5) << first << " -> " << last;
    EXPECT_EQ(trainer.stepsTaken(), 60u);

    int nonZero = 0;
    for (const ModelInput& in : inputs)
        for (int k = 0; k < in.count[0]; k++)
            for (int c = 0; c < NETWORK_HIDDEN; c++)
                nonZero +=
                    c % PAIRS >= 8 && model.ftWeights[size_t(in.features[0][k]) * NETWORK_HIDDEN + c] != 0;
    for (int s = 0; s < STACKS; s++)
        for (int c = 0; c < NETWORK_HIDDEN; c++)
            nonZero += c % PAIRS >= 8 && stackView(model.dense.data(), s).l1Weights[c] != 0;
    EXPECT_EQ(nonZero, 0);
}

// Steps after a save and a load are the steps the run would have taken.
TEST(TrainerCheckpoint, ResumedTrainingContinuesExactly) {
    const std::vector<ModelInput> inputs = materialTargets();
    const std::string path = testing::TempDir() + "sable_checkpoint_" + std::to_string(getpid()) + ".bin";
    TrainerSettings settings;
    settings.batchCapacity = int(inputs.size());
    const int half = int(inputs.size()) / 2;

    FloatModel first;
    initialiseModel(first, 6, 9);
    Trainer original(first, settings);
    for (int step = 0; step < 3; step++) original.step(inputs.data(), half, 0.01f);
    TrainingProgress progress;
    progress.samplesSeen = 1234;
    progress.epoch = 2;
    ASSERT_TRUE(original.save(path, progress));
    for (int step = 0; step < 3; step++) original.step(inputs.data() + half, half, 0.01f);

    FloatModel second;
    std::string error;
    ASSERT_TRUE(loadCheckpointModel(path, second, error)) << error;
    ASSERT_EQ(second.width, 6);
    Trainer resumed(second, settings);
    TrainingProgress read;
    ASSERT_TRUE(resumed.load(path, read, error)) << error;
    std::remove(path.c_str());
    EXPECT_EQ(read.samplesSeen, 1234u);
    EXPECT_EQ(read.epoch, 2);
    EXPECT_EQ(resumed.stepsTaken(), 3u);
    for (int step = 0; step < 3; step++) resumed.step(inputs.data() + half, half, 0.01f);

    for (const ModelInput& in : inputs) EXPECT_EQ(modelOutput(first, in), modelOutput(second, in));
    int differences = 0;
    for (size_t i = 0; i < DENSE_PARAMETERS; i++) differences += first.dense[i] != second.dense[i];
    EXPECT_EQ(differences, 0);
}

}  // namespace
