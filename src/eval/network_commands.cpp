#include "eval/network_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "core/output.h"
#include "eval/evaluate.h"
#include "eval/network/accumulator.h"
#include "eval/network/layer_stack.h"
#include "eval/network/network_manager.h"

namespace {

// Positions that exercise every layer stack: openings, middlegames with
// imbalances, endgames down to few pieces.
const char* const TestPositions[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
    "rnbqkb1r/pp1p1ppp/5n2/2pPp3/8/8/PPP1PPPP/RNBQKBNR w KQkq - 0 4",
    "r1bq1rk1/pp2bppp/2n1pn2/2pp4/2P5/1P3NP1/PB1PPPBP/RN1Q1RK1 w - - 0 8",
    "2rr2k1/1pqnbppp/p2p1n2/Pb2p3/4P3/2NNBB2/1PPQ1PPP/R2R2K1 b - - 0 1",
    "r4qnk/p1p5/5r1b/3P1b1p/2p2N2/2N4P/PP1QB3/2K2RR1 w - - 0 1",
    "3r2k1/1p3ppp/p1q5/P2rpP2/5nPP/5NQ1/1PP2R2/R6K w - - 0 1",
    "6k1/3n1pp1/b6p/1n1Pp3/4PP2/rB4PP/3N1B2/2R3K1 b - - 0 1",
    "8/8/pr1ppk1p/R4pP1/8/3K2P1/P3PP2/8 b - - 0 1",
    "2k1r3/4rpBp/2p5/p2p4/8/1PPR4/Pb1K1PPP/3R4 w - - 0 1",
    "8/p4r2/1p2k3/3prp1p/3R4/1P3K1P/P2R2P1/8 b - - 0 1",
    "8/R5K1/8/8/1p6/1k6/p6P/8 b - - 0 1",
    "2b5/8/p1p5/1P3kpp/P1P5/3NK3/7P/8 b - - 0 1",
    "6k1/5pp1/8/1P6/3N4/4P3/3N4/4K2r w - - 0 1",
    "8/8/4k3/8/2K5/3P4/8/8 w - - 0 1",
    "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
    "r1b1k2r/ppppnppp/2n2q2/2b5/3NP3/2P1B3/PP3PPP/RN1QKB1R w KQkq - 0 1",
};
constexpr int TEST_POSITION_COUNT = int(sizeof(TestPositions) / sizeof(TestPositions[0]));

struct MoveValue {
    Move move;
    float value;
};

struct TestRecord {
    uint32_t index;
    uint8_t sideToMove;
    float evaluation = 0.0f;  // the network value in the network check, else 0
    std::vector<MoveValue> moves;
};

// The record of one position: its moves with the ordering value each stage
// gives them (or 0 when values are not kept).
TestRecord buildRecord(uint32_t index, const Position& pos, bool keepValues) {
    TestRecord record{index, uint8_t(pos.sideToMove()), 0.0f, {}};
    MoveEntry list[MAX_MOVES];
    int n = generateTactical(pos, list);
    n += generateQuiet(pos, list + n);
    for (int i = 0; i < n; i++)
        record.moves.push_back({list[i].move, keepValues ? float(list[i].key) : 0.0f});
    return record;
}

bool sameMoves(const TestRecord& a, const TestRecord& b) {
    if (a.moves.size() != b.moves.size()) return false;
    for (size_t i = 0; i < a.moves.size(); i++)
        if (a.moves[i].move != b.moves[i].move || a.moves[i].value != b.moves[i].value) return false;
    return true;
}

std::string movesText(const TestRecord& record) {
    std::string text;
    char move[8];
    for (const MoveValue& mv : record.moves) {
        moveToText(mv.move, move);
        char value[32];
        std::snprintf(value, sizeof(value), " %f ", double(mv.value));
        text += std::string(move) + value;
    }
    return text;
}

// The network value of pos computed the plain way: sums from scratch with
// scalar loops over every active feature, then the plain transform and first
// layer. Shares nothing with the incremental updates and vector kernels but
// the float output layers (which the build's kernels may round differently).
float plainNetworkValue(const Network& net, const Position& pos) {
    const FeatureTransformer& ft = *net.transformer;
    alignas(64) static int16_t sums[2][NETWORK_HIDDEN];
    int64_t psqt[2] = {0, 0};
    const int bucket = layerStackBucket(pos);
    for (Color c : {WHITE, BLACK}) {
        FeatureList active;
        collectActiveFeatures(pos, c, active);
        for (int j = 0; j < NETWORK_HIDDEN; j++) sums[c][j] = ft.biases[j];
        for (int k = 0; k < active.count; k++) {
            const int16_t* column = ft.weights + size_t(active.index[k]) * NETWORK_HIDDEN;
            for (int j = 0; j < NETWORK_HIDDEN; j++) sums[c][j] = int16_t(sums[c][j] + column[j]);
            psqt[c] += ft.psqtWeights[size_t(active.index[k]) * NETWORK_PSQT_BUCKETS + bucket];
        }
    }
    const Color us = pos.sideToMove(), them = ~us;
    alignas(64) uint8_t transformed[TRANSFORMED_BYTES];
    transformScalar(sums[us], sums[them], transformed, ALL_PAIRS);
    alignas(64) int32_t firstLayer[L1_OUTPUTS];
    firstLayerScalar(net.stacks[bucket], transformed, firstLayer, ALL_PAIRS);
    int64_t positional = outputLayers(net.stacks[bucket], firstLayer);
    int32_t psqtHalf = int32_t((int64_t(int32_t(psqt[us])) - int64_t(int32_t(psqt[them]))) / 2);
    return float((positional + psqtHalf) / NETWORK_OUTPUT_DIVISOR);
}

// The record of one position for the network check: its evaluation and every
// legal move with the network value of the position after it, computed the
// engine's way (the root from its sums, each child updated incrementally from
// the root) or the plain way (everything from scratch).
TestRecord networkRecord(const Network& net, Position& root, uint32_t index, bool plain) {
    TestRecord record{index, uint8_t(root.sideToMove()), 0.0f, {}};
    record.evaluation = plain ? plainNetworkValue(net, root) : float(networkEvaluate(net, root));
    MoveEntry list[MAX_MOVES];
    int n = generateTactical(root, list);
    n += generateQuiet(root, list + n);
    static Position child;
    for (int i = 0; i < n; i++) {
        if (!makeMove(root, child, list[i].move)) continue;
        float value = plain ? plainNetworkValue(net, child) : float(networkEvaluate(net, child));
        record.moves.push_back({list[i].move, value});
    }
    return record;
}

}  // namespace

bool networkPathsAgree(const Network& net, Position& root, uint32_t index) {
    TestRecord engine = networkRecord(net, root, index, false);
    TestRecord plain = networkRecord(net, root, index, true);
    if (std::fabs(engine.evaluation - plain.evaluation) >= 0.001f) {
        printTo(stderr, "test position failed: %u (evals differ)\n", index);
        printTo(stderr, "eval values: %f %f\n", double(engine.evaluation), double(plain.evaluation));
        return false;
    }
    if (!sameMoves(engine, plain)) {
        printTo(stderr, "test position failed: %u (policy values differ)\n", index);
        printTo(stderr, "\npolicy:\n%s\npolicy:\n%s\n", movesText(engine).c_str(), movesText(plain).c_str());
        return false;
    }
    return true;
}

void runNnDebug() {
    for (int i = 0; i < 16; i++) {
        Position pos;
        setFromFen(pos, TestPositions[i]);
        int value = currentNetwork() ? scaledNetworkScore(pos) : 0;
        printOut("eval: %d\n", value);
    }
}

bool runNnEval(const char* inputPath, const char* outputPath) {
    FILE* in = std::fopen(inputPath, "r");
    if (!in) {
        printTo(stderr, "info string error: cannot read %s\n", inputPath);
        return false;
    }
    FILE* out = std::fopen(outputPath, "w");
    if (!out) {
        std::fclose(in);
        printTo(stderr, "info string error: cannot write %s\n", outputPath);
        return false;
    }
    char line[1024];
    uint32_t index = 0;
    while (std::fgets(line, sizeof(line), in)) {
        std::string fen(line);
        while (!fen.empty() && (fen.back() == '\n' || fen.back() == '\r')) fen.pop_back();
        if (fen.empty()) continue;
        // A FEN without a valid side to move would end the program: skip it.
        size_t side = fen.find(' ');
        if (side == std::string::npos || side + 1 >= fen.size() ||
            (fen[side + 1] != 'w' && fen[side + 1] != 'b')) {
            printTo(stderr, "info string skipped a line that is not a FEN: %s\n", fen.c_str());
            continue;
        }
        Position pos;
        setFromFen(pos, fen.c_str());
        TestRecord record = buildRecord(index++, pos, true);
        std::stable_sort(record.moves.begin(), record.moves.end(),
                         [](const MoveValue& a, const MoveValue& b) { return a.value > b.value; });
        std::fprintf(out, "%s\n%.5f\n%s\n\n", fen.c_str(), double(record.evaluation),
                     movesText(record).c_str());
    }
    std::fclose(in);
    std::fclose(out);
    return true;
}

bool runNnTest() {
    const Network* net = currentNetwork();
    int count = std::min(TEST_POSITION_COUNT, 128);
    bool passed = true;
    for (int i = 0; i < count && passed && net; i++) {
        static Position pos;
        setFromFen(pos, TestPositions[i]);
        passed = networkPathsAgree(*net, pos, uint32_t(i));
    }
    printOut("nn test %s\n", passed ? "passed" : "failed");
    return passed;
}
