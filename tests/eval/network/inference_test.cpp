// Network inference: feature indices, the layer-stack bucket, the incremental
// accumulator against refreshes from scratch, the plain and vector kernels
// against each other, and the symmetries the feature set promises.
//
// The network is filled with deterministic random weights (no trained network
// is needed to check the arithmetic): feature-transformer weights in -64..64,
// so the 16-bit sums of real positions spread over both clamps of the
// transform, and first-layer weights over the whole int8 range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../../board/board_test_util.h"
#include "eval/network/accumulator.h"
#include "eval/network/accumulator_cache.h"
#include "eval/network/features.h"
#include "eval/network/layer_stack.h"
#include "eval/network/network.h"
#include "eval/network_commands.h"

namespace {

// splitmix64: fast enough to fill 35 million weights in a blink.
struct TestRng {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
};

void fillRandomNetwork(Network& net, uint64_t seed) {
    TestRng rng{seed};
    FeatureTransformer& ft = *net.transformer;
    for (int16_t& w : ft.weights) w = int16_t(rng.range(-64, 64));
    for (int16_t& b : ft.biases) b = int16_t(rng.range(-32, 64));
    for (int32_t& w : ft.psqtWeights) w = rng.range(-5000, 5000);
    for (int s = 0; s < NETWORK_LAYER_STACKS; s++) {
        LayerStack& stack = net.stacks[s];
        for (int8_t& w : stack.l1Weights) w = int8_t(rng.range(-128, 127));
        for (int32_t& b : stack.l1Biases) b = rng.range(-20000, 20000);
        for (float& w : stack.l2Weights) w = float(rng.range(-128, 127));
        for (float& b : stack.l2Biases) b = float(rng.range(-2000, 2000));
        for (float& w : stack.l3Weights) w = float(rng.range(-128, 127));
        stack.l3Bias = float(rng.range(-1000, 1000));
        arrangeFirstLayerWeights(stack);
    }
}

// One random network for the whole test binary (it is 70 MB).
const Network& testNetwork() {
    static std::unique_ptr<Network> net = [] {
        initBoardTables();
        auto n = std::make_unique<Network>();
        fillRandomNetwork(*n, 20240611);
        return n;
    }();
    return *net;
}

// Sets "UCI_Chess960" for the lifetime of the guard.
struct Chess960Guard {
    int32_t saved = chess960;
    explicit Chess960Guard(bool on) { chess960 = on; }
    ~Chess960Guard() { chess960 = saved; }
};

// Positions played from a FEN, kept in one array so that parent links stay valid.
class Chain {
  public:
    static constexpr int CAPACITY = 160;

    explicit Chain(const std::string& fen) : records_(new Position[CAPACITY]) {
        initBoardTables();
        setFromFen(records_[0], fen.c_str());
    }
    Position& top() { return records_[size_ - 1]; }
    Position& operator[](int i) { return records_[i]; }
    int size() const { return size_; }
    bool full() const { return size_ == CAPACITY; }

    void play(Move m) {
        ASSERT_TRUE(makeMove(top(), records_[size_], m));
        records_[size_].checkers = computeCheckers(records_[size_]);
        size_++;
    }
    void play(const char* text) {
        ASSERT_TRUE(parseAndMakeMove(top(), records_[size_], text)) << text;
        size_++;
    }

  private:
    std::unique_ptr<Position[]> records_;
    int size_ = 1;
};

// Feature-transformer sums of both perspectives.
struct Sums {
    alignas(64) int16_t values[2][NETWORK_HIDDEN];
    alignas(32) int32_t psqt[2][NETWORK_PSQT_BUCKETS];
};

const int32_t ZeroPsqt[NETWORK_PSQT_BUCKETS] = {};
const FeatureList NoFeatures{};

// The sums of pos for perspective p from scratch, with the plain kernel.
void freshSums(const Network& net, const Position& pos, Color p, Sums& out) {
    FeatureList active;
    collectActiveFeatures(pos, p, active);
    AccumulatorStep step{out.values[p], out.psqt[p], &NoFeatures, &active};
    applyStepsScalar(*net.transformer, net.transformer->biases, ZeroPsqt, &step, 1);
}

// The network's value of pos from scratch, with the plain integer kernels.
int32_t referenceEvaluate(const Network& net, const Position& pos) {
    Sums sums;
    freshSums(net, pos, WHITE, sums);
    freshSums(net, pos, BLACK, sums);
    int bucket = layerStackBucket(pos);
    Color us = pos.sideToMove(), them = ~us;
    alignas(64) uint8_t transformed[TRANSFORMED_BYTES];
    transformScalar(sums.values[us], sums.values[them], transformed, ALL_PAIRS);
    int32_t firstLayer[L1_OUTPUTS];
    firstLayerScalar(net.stacks[bucket], transformed, firstLayer, ALL_PAIRS);
    int64_t psqt = (int64_t(sums.psqt[us][bucket]) - sums.psqt[them][bucket]) / 2;
    return int32_t((outputLayers(net.stacks[bucket], firstLayer) + psqt) / NETWORK_OUTPUT_DIVISOR);
}

// Whether the sums that pos holds for perspective p are those of a refresh.
::testing::AssertionResult sumsAreFresh(const Network& net, const Position& pos, Color p) {
    Sums fresh;
    freshSums(net, pos, p, fresh);
    if (std::memcmp(fresh.values[p], pos.accumulation[p], sizeof(fresh.values[p])) != 0)
        return ::testing::AssertionFailure() << "feature sums of perspective " << p << " differ";
    if (std::memcmp(fresh.psqt[p], pos.psqtAccumulation[p], sizeof(fresh.psqt[p])) != 0)
        return ::testing::AssertionFailure() << "PSQT sums of perspective " << p << " differ";
    return ::testing::AssertionSuccess();
}

// FEN with the board mirrored left to right (castling and en passant dropped).
std::string mirroredFen(const Position& pos) {
    char fen[128];
    writeFen(pos, fen);
    std::string text = fen, placement = text.substr(0, text.find(' ')), out;
    std::string rank;
    auto flushRank = [&] {
        std::string squares;
        for (char c : rank)
            if (c >= '1' && c <= '8')
                squares.append(size_t(c - '0'), '1');
            else
                squares += c;
        std::reverse(squares.begin(), squares.end());
        out += squares;
        rank.clear();
    };
    for (char c : placement)
        if (c == '/') {
            flushRank();
            out += '/';
        } else {
            rank += c;
        }
    flushRank();
    return out + (pos.sideToMove() == WHITE ? " w - - 0 1" : " b - - 0 1");
}

// FEN with the board turned upside down and the colours (side to move too) swapped.
std::string colourFlippedFen(const Position& pos) {
    char fen[128];
    writeFen(pos, fen);
    std::string text = fen, placement = text.substr(0, text.find(' ')), out;
    std::vector<std::string> ranks;
    for (size_t start = 0;;) {
        size_t slash = placement.find('/', start);
        ranks.push_back(placement.substr(start, slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (size_t r = ranks.size(); r-- > 0;) {
        for (char c : ranks[r]) out += std::isupper(c) ? char(std::tolower(c)) : char(std::toupper(c));
        if (r) out += '/';
    }
    return out + (pos.sideToMove() == WHITE ? " b - - 0 1" : " w - - 0 1");
}

// Random positions: a few plies of random play from each perft suite position.
std::vector<std::string> randomPositions(int count, uint64_t seed) {
    initBoardTables();
    std::vector<PerftCase> suite = loadPerftSuite();
    std::mt19937 rng{uint32_t(seed)};
    std::vector<std::string> fens;
    while (int(fens.size()) < count) {
        const PerftCase& start = suite[fens.size() % suite.size()];
        Chess960Guard guard(start.chess960);
        Chain chain(start.fen);
        int plies = int(rng() % 40);
        for (int i = 0; i < plies; i++) {
            std::vector<Move> moves = legalMoves(chain.top());
            if (moves.empty()) break;
            chain.play(moves[rng() % moves.size()]);
        }
        char fen[128];
        writeFen(chain.top(), fen);
        fens.push_back(fen);
    }
    return fens;
}

TEST(NetworkFeatures, IndexFollowsKingBucketPieceAndOrientation) {
    const Piece W_PAWN = makePiece(WHITE, PAWN), B_PAWN = makePiece(BLACK, PAWN);
    struct Case {
        Color perspective;
        Square king;
        Piece piece;
        Square square;
        int expected;
    } cases[] = {
        {WHITE, E1, W_PAWN, E2, 704 * 31 + 0 + E2},
        {WHITE, D1, W_PAWN, D2, 704 * 31 + 0 + E2},  // king on the d-file: mirrored
        {BLACK, E8, B_PAWN, E7, 704 * 31 + 0 + E2},  // Black sees its own pawn as we see ours
        {BLACK, E8, W_PAWN, E2, 704 * 31 + 64 + E7},
        {WHITE, H8, makePiece(BLACK, QUEEN), A1, 576 + A1},
        {WHITE, A8, makePiece(WHITE, KING), A8, 640 + H8},
        {BLACK, E1, makePiece(WHITE, KING), H1, 704 * 3 + 640 + H8},
        {WHITE, G2, makePiece(WHITE, KNIGHT), F3, 704 * 25 + 128 + F3},
        {BLACK, C7, makePiece(BLACK, ROOK), A8, 704 * 26 + 384 + H1},
        {WHITE, F5, makePiece(BLACK, BISHOP), C4, 704 * 14 + 320 + C4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(featureIndex(c.perspective, c.king, c.piece, c.square), c.expected)
            << "perspective " << c.perspective << " king " << c.king << " piece " << c.piece << " square "
            << c.square;
}

TEST(NetworkFeatures, BucketCountsMinorAndMajorPieces) {
    initBoardTables();
    struct Case {
        const char* fen;
        int bucket;
    } cases[] = {
        {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", 0},           // kings only
        {START_FEN, 7},                                 // 96, capped at 95
        {"4k3/pppppppp/8/8/8/8/8/RN2K3 w - - 0 1", 0},  // 11: pawns count nothing
        {"4k3/8/8/8/8/8/8/1BB1KB2 w - - 0 1", 1},       // 12
        {"qq2k3/8/8/8/8/8/8/QQ2K1RN w - - 0 1", 6},     // 83
        {"qq2k3/8/8/8/8/8/8/QQ1BKBB1 w - - 0 1", 7},    // 84
    };
    for (const Case& c : cases) {
        Position pos;
        setFromFen(pos, c.fen);
        EXPECT_EQ(layerStackBucket(pos), c.bucket) << c.fen;
    }
}

// The vector kernels this build has, each to be compared with the plain one.
using StepsKernel = void (*)(const FeatureTransformer&, const int16_t*, const int32_t*,
                             const AccumulatorStep*, int);
using TransformKernel = void (*)(const int16_t*, const int16_t*, uint8_t*, int);
using FirstLayerKernel = void (*)(const LayerStack&, const uint8_t*, int32_t*, int);

struct VectorKernels {
    const char* name;
    StepsKernel steps;
    TransformKernel transform;
    FirstLayerKernel firstLayer;
};

std::vector<VectorKernels> vectorKernels() {
    std::vector<VectorKernels> kernels;
#if defined(__AVX2__)
    kernels.push_back({"AVX2", applyStepsVector, transformVector, firstLayerVector});
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
    kernels.push_back({"AVX-512", applyStepsWide, transformWide, firstLayerWide});
#endif
    return kernels;
}

// Every sparse first-layer kernel this build has, the plain one included.
struct SparseKernel {
    const char* name;
    FirstLayerKernel firstLayer;
};

std::vector<SparseKernel> sparseKernels() {
    std::vector<SparseKernel> kernels = {{"plain", firstLayerSparseScalar}};
#if defined(__AVX2__)
    kernels.push_back({"AVX2", firstLayerSparseVector});
#endif
#if defined(__AVX512BW__) && defined(__AVX512VNNI__)
    kernels.push_back({"AVX-512", firstLayerSparseWide});
#endif
    return kernels;
}

// Random features: `count` of them.
FeatureList randomFeatures(TestRng& rng, int count) {
    FeatureList list;
    for (int i = 0; i < count; i++) list.push(rng.range(0, NETWORK_FEATURES - 1));
    return list;
}

TEST(NetworkKernels, VectorKernelsMatchPlainOnes) {
    if (vectorKernels().empty()) GTEST_SKIP() << "this build has no vector kernels";
    const Network& net = testNetwork();
    const FeatureTransformer& ft = *net.transformer;
    TestRng rng{7};
    for (const std::string& fen : randomPositions(40, 3)) {
        SCOPED_TRACE(fen);
        Position pos;
        setFromFen(pos, fen.c_str());

        // A refresh; single steps of every shape a move makes, and others;
        // then two chained steps of random changes.
        FeatureList active;
        collectActiveFeatures(pos, BLACK, active);
        const int shapes[][2] = {{1, 1}, {2, 1}, {2, 2}, {0, 0}, {1, 2}, {3, 3}};
        FeatureList removed[6], added[6];
        for (int i = 0; i < 6; i++) {
            removed[i] = randomFeatures(rng, shapes[i][0]);
            added[i] = randomFeatures(rng, shapes[i][1]);
        }
        FeatureList chainRemoved[2] = {randomFeatures(rng, rng.range(0, 5)),
                                       randomFeatures(rng, rng.range(0, 5))};
        FeatureList chainAdded[2] = {randomFeatures(rng, rng.range(0, 5)),
                                     randomFeatures(rng, rng.range(0, 5))};

        auto runAll = [&](StepsKernel apply, Sums(&out)[8]) {
            AccumulatorStep refresh{out[0].values[0], out[0].psqt[0], &NoFeatures, &active};
            apply(ft, ft.biases, ZeroPsqt, &refresh, 1);
            for (int i = 0; i < 6; i++) {
                AccumulatorStep step{out[1 + i].values[0], out[1 + i].psqt[0], &removed[i], &added[i]};
                apply(ft, out[0].values[0], out[0].psqt[0], &step, 1);
            }
            AccumulatorStep chained[2] = {
                {out[7].values[0], out[7].psqt[0], &chainRemoved[0], &chainAdded[0]},
                {out[7].values[1], out[7].psqt[1], &chainRemoved[1], &chainAdded[1]}};
            apply(ft, out[0].values[0], out[0].psqt[0], chained, 2);
        };
        static Sums plain[8], vector[8];
        std::memset(plain, 0, sizeof(plain));
        runAll(applyStepsScalar, plain);

        // Transform inputs: real sums, and sums anywhere in the 16-bit range.
        Sums anywhere;
        for (auto& row : anywhere.values)
            for (int16_t& v : row) v = int16_t(rng.range(-32768, 32767));
        const Sums* transformInputs[2] = {&plain[7], &anywhere};

        for (const VectorKernels& kernels : vectorKernels()) {
            SCOPED_TRACE(kernels.name);
            std::memset(vector, 0, sizeof(vector));
            runAll(kernels.steps, vector);
            for (int i = 0; i < 8; i++)
                ASSERT_EQ(std::memcmp(&plain[i], &vector[i], sizeof(Sums)), 0) << "case " << i;

            for (const Sums* sums : transformInputs) {
                alignas(64) uint8_t plainBytes[TRANSFORMED_BYTES], vectorBytes[TRANSFORMED_BYTES];
                transformScalar(sums->values[0], sums->values[1], plainBytes, ALL_PAIRS);
                kernels.transform(sums->values[0], sums->values[1], vectorBytes, ALL_PAIRS);
                ASSERT_EQ(std::memcmp(plainBytes, vectorBytes, TRANSFORMED_BYTES), 0);

                // The first layer of every stack on those bytes.
                for (int s = 0; s < NETWORK_LAYER_STACKS; s++) {
                    alignas(32) int32_t plainSums[L1_OUTPUTS], vectorSums[L1_OUTPUTS];
                    firstLayerScalar(net.stacks[s], plainBytes, plainSums, ALL_PAIRS);
                    kernels.firstLayer(net.stacks[s], plainBytes, vectorSums, ALL_PAIRS);
                    ASSERT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, vectorSums)) << "stack " << s;
#if defined(__AVX2__)
                    // The float layers add in the same order; fused multiply-adds may round differently.
                    EXPECT_NEAR(outputLayersScalar(net.stacks[s], plainSums),
                                outputLayersVector(net.stacks[s], plainSums), 1);
#endif
                }
            }
        }
    }
}

TEST(NetworkKernels, FirstLayerExtremesDoNotSaturate) {
    if (vectorKernels().empty()) GTEST_SKIP() << "this build has no vector kernels";
    // Pairs of the largest transformed byte with the extreme weights are where
    // 16-bit pair sums would saturate if they could.
    struct Case {
        uint8_t input;
        int8_t weight;
    } cases[] = {{126, -128}, {126, 127}, {126, 1}, {1, -128}, {0, -128}};
    static LayerStack stack;
    for (const Case& c : cases) {
        std::fill(std::begin(stack.l1Weights), std::end(stack.l1Weights), c.weight);
        std::fill(std::begin(stack.l1Biases), std::end(stack.l1Biases), 5);
        arrangeFirstLayerWeights(stack);
        alignas(64) uint8_t bytes[TRANSFORMED_BYTES];
        std::fill(std::begin(bytes), std::end(bytes), c.input);
        alignas(32) int32_t plainSums[L1_OUTPUTS];
        firstLayerScalar(stack, bytes, plainSums, ALL_PAIRS);
        for (int o = 0; o < L1_OUTPUTS; o++) EXPECT_EQ(plainSums[o], 5 + NETWORK_HIDDEN * c.input * c.weight);
        for (const VectorKernels& kernels : vectorKernels()) {
            alignas(32) int32_t vectorSums[L1_OUTPUTS];
            kernels.firstLayer(stack, bytes, vectorSums, ALL_PAIRS);
            EXPECT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, vectorSums)) << kernels.name;
        }
        for (const SparseKernel& sparse : sparseKernels()) {
            alignas(64) int32_t sparseSums[L1_OUTPUTS];
            sparse.firstLayer(stack, bytes, sparseSums, ALL_PAIRS);
            EXPECT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, sparseSums)) << sparse.name;
        }
    }
}

// The sparse kernels skip groups of four zero inputs; whatever the share of
// such groups, and wherever they lie, the sums are the dense kernel's.
TEST(NetworkKernels, SparseFirstLayersMatchTheDenseOne) {
    const Network& net = testNetwork();
    TestRng rng{23};
    for (int percentNonZero : {0, 1, 10, 50, 90, 100}) {
        SCOPED_TRACE(percentNonZero);
        for (int trial = 0; trial < 4; trial++) {
            alignas(64) uint8_t bytes[TRANSFORMED_BYTES] = {};
            for (int g = 0; g < TRANSFORMED_BYTES / 4; g++) {
                if (rng.range(1, 100) > percentNonZero) continue;
                // One non-zero byte anywhere in the group is enough to count.
                bytes[4 * g + rng.range(0, 3)] = uint8_t(rng.range(1, 126));
                for (int k = 0; k < 4; k++)
                    if (rng.range(0, 1)) bytes[4 * g + k] = uint8_t(rng.range(0, 126));
            }
            for (int s = 0; s < NETWORK_LAYER_STACKS; s++) {
                alignas(64) int32_t plainSums[L1_OUTPUTS], sparseSums[L1_OUTPUTS];
                firstLayerScalar(net.stacks[s], bytes, plainSums, ALL_PAIRS);
                for (const SparseKernel& sparse : sparseKernels()) {
                    sparse.firstLayer(net.stacks[s], bytes, sparseSums, ALL_PAIRS);
                    ASSERT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, sparseSums))
                        << sparse.name << " stack " << s;
                }
            }
        }
    }
}

TEST(NetworkAccumulator, IncrementalSumsEqualRefreshesInRandomGames) {
    const Network& net = testNetwork();
    std::mt19937 rng(11);
    for (const PerftCase& start : loadPerftSuite()) {
        Chess960Guard guard(start.chess960);
        Chain chain(start.fen);
        SCOPED_TRACE(start.fen);
        networkEvaluate(net, chain.top());
        while (!chain.full()) {
            // Null moves now and then; the evaluation skips plies at random so
            // the walk back spans several records.
            std::vector<Move> moves = legalMoves(chain.top());
            if (moves.empty() || chain.top().rule50 >= 100) break;
            bool nullMove = !chain.top().checkers && rng() % 12 == 0;
            chain.play(nullMove ? MOVE_NONE : moves[rng() % moves.size()]);
            if (rng() % 3 == 0) continue;

            Position& pos = chain.top();
            ASSERT_EQ(networkEvaluate(net, pos), referenceEvaluate(net, pos)) << "ply " << chain.size() - 1;
            ASSERT_TRUE(sumsAreFresh(net, pos, WHITE));
            ASSERT_TRUE(sumsAreFresh(net, pos, BLACK));
        }
        // The intermediate records that the walks brought up to date are right too.
        for (int i = 0; i < chain.size(); i++)
            for (Color p : {WHITE, BLACK})
                if (chain[i].computed[p]) {
                    ASSERT_TRUE(sumsAreFresh(net, chain[i], p)) << "record " << i;
                }
    }
}

// Refreshes through a thread's cache give the sums of a refresh from scratch:
// over random games (kings wander, so entries are reused after many moves),
// and after the cache was last filled for another network.
TEST(NetworkAccumulator, CachedRefreshesEqualRefreshesFromScratch) {
    const Network& net = testNetwork();
    auto cache = std::make_unique<AccumulatorCache>();
    std::mt19937 rng(5);
    int refreshes = 0;
    for (const PerftCase& start : loadPerftSuite()) {
        Chess960Guard guard(start.chess960);
        Chain chain(start.fen);
        SCOPED_TRACE(start.fen);
        networkEvaluate(net, chain.top(), cache.get());
        while (!chain.full()) {
            std::vector<Move> moves = legalMoves(chain.top());
            if (moves.empty() || chain.top().rule50 >= 100) break;
            chain.play(moves[rng() % moves.size()]);
            Position& pos = chain.top();
            for (Color p : {WHITE, BLACK})
                refreshes +=
                    updateAccumulator(*net.transformer, pos, p, cache.get()) == AccumulatorWork::Refresh;
            ASSERT_TRUE(sumsAreFresh(net, pos, WHITE)) << "ply " << chain.size() - 1;
            ASSERT_TRUE(sumsAreFresh(net, pos, BLACK)) << "ply " << chain.size() - 1;
        }
    }
    EXPECT_GT(refreshes, 100);

    // Entries left by another network are not used.
    Chain chain(START_FEN);
    cache->networkSerial = net.serial + 1;
    for (auto& side : cache->entries)
        for (AccumulatorCacheEntry& entry : side) entry.sums[7] ^= 0x5555;
    EXPECT_EQ(networkEvaluate(net, chain.top(), cache.get()), referenceEvaluate(net, chain.top()));
    EXPECT_EQ(cache->networkSerial, net.serial);
}

TEST(NetworkAccumulator, OwnKingMovesRefreshOtherMovesUpdate) {
    using W = AccumulatorWork;
    struct Case {
        const char* fen;
        bool chess960;
        const char* move;  // nullptr: the null move
        AccumulatorWork white, black;
    } cases[] = {
        {START_FEN, false, "g1f3", W::Incremental, W::Incremental},
        {START_FEN, false, nullptr, W::Incremental, W::Incremental},
        // Kiwipete: king steps (across the d/e mirror line too) and both castlings.
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", false, "e1d1", W::Refresh,
         W::Incremental},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", false, "e1g1", W::Refresh,
         W::Incremental},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 0 1", false, "e8c8",
         W::Incremental, W::Refresh},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 0 1", false, "e8f8",
         W::Incremental, W::Refresh},
        // A king that captures.
        {"rnbqk3/pppppppp/8/8/8/8/3p4/4K3 w - - 0 1", false, "e1d2", W::Refresh, W::Incremental},
        // Chess960: king and rook swap squares.
        {"rn2k3/pppppppp/8/8/8/8/PPPPPPPP/RN3KR1 w G - 0 1", true, "f1g1", W::Refresh, W::Incremental},
        // En passant, a promotion and a capture-promotion (three dirty pieces).
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", false, "e5d6", W::Incremental, W::Incremental},
        {"4k3/1P6/8/8/8/8/8/4K3 w - - 0 1", false, "b7b8q", W::Incremental, W::Incremental},
        {"r3k3/1P6/8/8/8/8/PPPPPPP1/RNBQKBNR w KQ - 0 1", false, "b7a8n", W::Incremental, W::Incremental},
    };
    const Network& net = testNetwork();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fen) + " " + (c.move ? c.move : "null"));
        Chess960Guard guard(c.chess960);
        Chain chain(c.fen);
        networkEvaluate(net, chain.top());
        if (c.move)
            chain.play(c.move);
        else
            chain.play(MOVE_NONE);
        Position& pos = chain.top();
        EXPECT_EQ(updateAccumulator(*net.transformer, pos, WHITE), c.white);
        EXPECT_EQ(updateAccumulator(*net.transformer, pos, BLACK), c.black);
        EXPECT_TRUE(sumsAreFresh(net, pos, WHITE));
        EXPECT_TRUE(sumsAreFresh(net, pos, BLACK));
        if (!c.move) {
            EXPECT_EQ(std::memcmp(pos.accumulation, chain[0].accumulation, sizeof(pos.accumulation)), 0);
        }
    }
}

TEST(NetworkAccumulator, WalkBackStopsWhenThePieceCountBudgetIsSpent) {
    // Each quiet move costs two (one dirty piece plus one) against the 32
    // pieces: sixteen records are worth walking, seventeen are not.
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    const Network& net = testNetwork();
    for (int plies : {16, 17}) {
        SCOPED_TRACE(plies);
        Chain chain(START_FEN);
        networkEvaluate(net, chain.top());
        for (int i = 0; i < plies; i++) chain.play(shuffle[i % 4]);
        Position& pos = chain.top();
        AccumulatorWork expected = plies == 16 ? AccumulatorWork::Incremental : AccumulatorWork::Refresh;
        EXPECT_EQ(updateAccumulator(*net.transformer, pos, WHITE), expected);
        EXPECT_TRUE(sumsAreFresh(net, pos, WHITE));
        // The walk also leaves the sums of the first record after the valid one.
        EXPECT_EQ(chain[1].computed[WHITE], plies == 16);
        EXPECT_FALSE(chain[2].computed[WHITE]);
        if (plies == 16) {
            EXPECT_TRUE(sumsAreFresh(net, chain[1], WHITE));
        }
    }
}

TEST(NetworkEvaluate, SecondEvaluationIsTheSameAndDoesNoWork) {
    const Network& net = testNetwork();
    Chain chain(START_FEN);
    for (const char* move : {"e2e4", "c7c5", "g1f3"}) chain.play(move);
    Position& pos = chain.top();
    int32_t first = networkEvaluate(net, pos);
    // Spoil the ancestors' sums: an evaluation that walked back would notice.
    for (int i = 0; i + 1 < chain.size(); i++)
        std::memset(chain[i].accumulation, 0x55, sizeof(pos.accumulation));
    EXPECT_EQ(updateAccumulator(*net.transformer, pos, WHITE), AccumulatorWork::None);
    EXPECT_EQ(updateAccumulator(*net.transformer, pos, BLACK), AccumulatorWork::None);
    EXPECT_EQ(networkEvaluate(net, pos), first);
    EXPECT_EQ(first, referenceEvaluate(net, pos));
}

TEST(NetworkEvaluate, MirroredAndColourFlippedPositionsEvaluateAlike) {
    // The features ignore which wing the own king is on and which colour is
    // which, so both transformations leave the value unchanged.
    const Network& net = testNetwork();
    for (const std::string& fen : randomPositions(60, 5)) {
        Position pos, mirrored, flipped;
        setFromFen(pos, fen.c_str());
        setFromFen(mirrored, mirroredFen(pos).c_str());
        setFromFen(flipped, colourFlippedFen(pos).c_str());
        int32_t value = networkEvaluate(net, pos);
        EXPECT_EQ(networkEvaluate(net, mirrored), value) << fen << " mirrored " << mirroredFen(pos);
        EXPECT_EQ(networkEvaluate(net, flipped), value) << fen << " flipped " << colourFlippedFen(pos);
    }
}

// A network trained with 256 neuron pairs instead of 768: the later pairs'
// first sum, second sum or both are zero in every column and bias, so their
// products are always 0. Made once (it is 70 MB); dead pairs not yet measured.
constexpr int NARROW_PAIRS = 256;

Network& narrowTestNetwork() {
    static std::unique_ptr<Network> net = [] {
        initBoardTables();
        auto n = std::make_unique<Network>();
        fillRandomNetwork(*n, 20240611);
        FeatureTransformer& ft = *n->transformer;
        constexpr int HALF = NETWORK_HIDDEN / 2;
        for (size_t f = 0; f <= size_t(NETWORK_FEATURES); f++) {
            int16_t* column = f < size_t(NETWORK_FEATURES) ? ft.weights + f * NETWORK_HIDDEN : ft.biases;
            for (int j = NARROW_PAIRS; j < HALF; j++) {
                if (j % 3 != 1) column[j] = 0;
                if (j % 3 != 0) column[j + HALF] = 0;
            }
        }
        return n;
    }();
    return *net;
}

// The loader finds the trailing pairs that are dead by either sum, in blocks
// of DEAD_PAIR_STEP: one weight or bias in both sums of a later pair makes
// its whole block live, one in a sum whose partner is dead does not.
TEST(NetworkDeadPairs, TrailingDeadPairsAreFoundInWholeBlocks) {
    FeatureTransformer& ft = *narrowTestNetwork().transformer;
    constexpr int HALF = NETWORK_HIDDEN / 2;
    struct Case {
        std::vector<int> liveSums;  // sums given one non-zero weight or bias
        int deadPairs;
    } cases[] = {
        {{}, 512},
        {{302, 302 + HALF}, 256},  // both sums of pair 302, which were both dead
        {{303}, 256},              // the dead first sum of pair 303, whose second is live
        {{305}, 512},              // one sum of pair 305: the other is still dead
        {{305 + HALF}, 512},
        {{767, 767 + HALF}, 0},    // the last pair
        {{255, 255 + HALF}, 512},  // a pair that was live anyway
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deadPairs);
        std::vector<int16_t> saved;
        for (size_t i = 0; i < c.liveSums.size(); i++) {
            int16_t& value =
                i % 2 ? ft.biases[c.liveSums[i]] : ft.weights[size_t(77) * NETWORK_HIDDEN + c.liveSums[i]];
            saved.push_back(value);
            value = int16_t(3 + value);
        }
        measureDeadPairs(ft);
        EXPECT_EQ(ft.deadPairs, c.deadPairs);
        for (size_t i = 0; i < c.liveSums.size(); i++)
            (i % 2 ? ft.biases[c.liveSums[i]] : ft.weights[size_t(77) * NETWORK_HIDDEN + c.liveSums[i]]) =
                saved[i];
    }
    measureDeadPairs(ft);
    EXPECT_EQ(livePairs(ft), NARROW_PAIRS);
}

// With dead pairs skipped, every evaluation is still the one computed from
// scratch over all 1536 sums: in random games (incremental updates, refreshes
// through the cache, every legal move of each position), with the dead sums
// of every record spoiled so that a kernel reading them would be caught.
TEST(NetworkDeadPairs, SkippingDeadPairsChangesNoValue) {
    Network& net = narrowTestNetwork();
    measureDeadPairs(*net.transformer);
    ASSERT_EQ(livePairs(*net.transformer), NARROW_PAIRS);
    auto cache = std::make_unique<AccumulatorCache>();
    resetAccumulatorCache(*cache, net);
    std::mt19937 rng(3);
    uint32_t index = 0;
    for (const std::string& fen : randomPositions(12, 9)) {
        Chain chain(fen);
        for (int i = 0; i < Chain::CAPACITY; i++)
            std::memset(chain[i].accumulation, 0x5A, sizeof(chain[i].accumulation));
        SCOPED_TRACE(fen);
        for (int ply = 0; ply < 40 && !chain.full(); ply++) {
            std::vector<Move> moves = legalMoves(chain.top());
            if (moves.empty()) break;
            Position& pos = chain.top();
            if (ply % 4 == 0) {
                ASSERT_TRUE(networkPathsAgree(net, pos, index++));
            } else {
                Color us = pos.sideToMove();
                for (Color p : {WHITE, BLACK}) updateAccumulator(*net.transformer, pos, p, cache.get());
                // Live sums as a refresh gives them; the check above covers the value.
                Sums fresh;
                freshSums(net, pos, us, fresh);
                for (int half = 0; half < NETWORK_HIDDEN; half += NETWORK_HIDDEN / 2)
                    ASSERT_EQ(
                        std::memcmp(fresh.values[us] + half, pos.accumulation[us] + half, NARROW_PAIRS * 2),
                        0);
            }
            chain.play(moves[rng() % moves.size()]);
        }
    }

    // Every kernel on the same live pairs: transformed bytes of random sums
    // (the dead ones 0), and first layers against the plain one over all pairs.
    TestRng bytesRng{41};
    Sums anywhere;
    for (auto& row : anywhere.values)
        for (int16_t& v : row) v = int16_t(bytesRng.range(-32768, 32767));
    alignas(64) uint8_t plainBytes[TRANSFORMED_BYTES];
    transformScalar(anywhere.values[0], anywhere.values[1], plainBytes, NARROW_PAIRS);
    for (int j = 0; j < TRANSFORMED_BYTES; j++) {
        if (j % (NETWORK_HIDDEN / 2) >= NARROW_PAIRS) {
            ASSERT_EQ(plainBytes[j], 0) << j;
        }
    }
    alignas(32) int32_t plainSums[L1_OUTPUTS], sums[L1_OUTPUTS];
    firstLayerScalar(net.stacks[2], plainBytes, plainSums, ALL_PAIRS);
    for (const VectorKernels& kernels : vectorKernels()) {
        alignas(64) uint8_t bytes[TRANSFORMED_BYTES];
        std::memset(bytes, 0xEE, sizeof bytes);
        kernels.transform(anywhere.values[0], anywhere.values[1], bytes, NARROW_PAIRS);
        ASSERT_EQ(std::memcmp(plainBytes, bytes, TRANSFORMED_BYTES), 0) << kernels.name;
        kernels.firstLayer(net.stacks[2], plainBytes, sums, NARROW_PAIRS);
        ASSERT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, sums)) << kernels.name;
    }
    for (const SparseKernel& sparse : sparseKernels()) {
        sparse.firstLayer(net.stacks[2], plainBytes, sums, NARROW_PAIRS);
        ASSERT_TRUE(std::equal(plainSums, plainSums + L1_OUTPUTS, sums)) << sparse.name;
    }
}

}  // namespace

// The "nntest" check: the engine's incremental sums and vector kernels against
// sums from scratch and plain kernels, on a dense random network. Stale sums in
// the root (an update that went wrong) must make it fail.
TEST(NetworkSelfCheck, EnginePathAgreesWithPlainPathAndCatchesStaleSums) {
    const Network& net = testNetwork();
    for (const char* fen : {START_FEN, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"}) {
        static Position root;
        setFromFen(root, fen);
        EXPECT_TRUE(networkPathsAgree(net, root, 0)) << fen;

        setFromFen(root, fen);
        networkEvaluate(net, root);
        root.accumulation[WHITE][5] = int16_t(root.accumulation[WHITE][5] + 40);
        root.accumulation[BLACK][900] = int16_t(root.accumulation[BLACK][900] - 40);
        EXPECT_FALSE(networkPathsAgree(net, root, 0)) << fen;
    }
}
