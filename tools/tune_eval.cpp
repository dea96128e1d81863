// Fits the weights of the hand-written evaluation to self-play positions
// (Texel-style): the evaluation's win probability against a mix of the game's
// result and the search score, on the training-record files that the data
// generator writes.
//
//   tune_eval --data PATH... [--out FILE] [--iterations 400] [--lr 3.0]
//             [--lambda 0.5] [--max-positions 2000000] [--validation-every 20]
//             [--max-score 2000] [--min-ply 8] [--reg 2e-10] [--from initial|tuned]
//
// PATH is a record file or a directory of *.bin files. Games (a record whose
// ply does not rise starts a new one) go whole to the training side or, every
// --validation-every-th game, to the held-out side. The evaluation is read as
// a linear function of the weights through its trace (how often each weight
// was counted, White minus Black) plus a fixed remainder, passed through the
// engine's own final assembly; the gradient of the assembly is taken
// numerically. Adam, full batch, from the hand-set weights (or the tuned
// ones), with a weak pull (--reg) back towards them: Adam moves a weight that
// few positions see as fast as a common one, and the pull keeps such weights
// from wandering on noise. The result is written as C++ source (FILE, default
// src/eval/regular_weights_tuned.cpp) with the base weights, that is before
// the Default style's percentages.
//
// The run is deterministic: the same files and options give the same table.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_trace.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/regular_eval.h"
#include "eval/regular_weights.h"
#include "eval/special_material.h"
#include "training/training_data.h"
#include "training/training_record.h"

namespace {

struct Options {
    std::vector<std::string> data;
    std::string out = "src/eval/regular_weights_tuned.cpp";
    int iterations = 400;
    double lr = 3.0;
    double lambda = 0.5;
    size_t maxPositions = 2000000;
    int validationEvery = 20;
    int maxScore = 2000;
    int minPly = 8;
    bool fromTuned = false;
    double reg = 2e-10;  // pull towards the starting weights, so rare terms stay put
};

// One position as the tuner sees it.
struct Sample {
    uint32_t firstCoef;  // into the shared coefficient arrays
    uint16_t coefCount;
    AssemblyInputs in;
    int32_t pawnFixedHigh, pawnFixedLow;    // remainder of the pawn pair (raw)
    int32_t pieceFixedHigh, pieceFixedLow;  // remainder of the piece pair (raw)
    float target;                           // White's expected score
};

struct DataSet {
    std::vector<Sample> samples;
    std::vector<uint16_t> index;
    std::vector<int16_t> coef;
};

double sigmoid(double x) {
    return 1.0 / (1.0 + std::exp(-x));
}

// Score units to win probability: about 114 units a pawn.
double K = 0.0075;

enum Part { PAWN_PART, LATE_PART, PIECE_PART };
Part partOf(int w) {
    return w < W_PAWN_PART_END ? PAWN_PART : w < W_LATE_PART_END ? LATE_PART : PIECE_PART;
}

// Effective weights (after the Default style's percentages) as doubles:
// [w][0] high, [w][1] low.
using Params = std::vector<std::array<double, 2>>;

// The positional value v of a sample for the given weights: the pairs as the
// engine forms them (pawn pair at 97 %, piece pair through the dynamism
// factors), interpolated by phase. Also the derivative of v by each half of
// a weight counted once: dvHigh[part], dvLow[part].
double positional(const Sample& s, const DataSet& d, const Params& p, double dv[3][2]) {
    double pawn[2] = {double(s.pawnFixedHigh), double(s.pawnFixedLow)};
    double piece[2] = {double(s.pieceFixedHigh), double(s.pieceFixedLow)};
    double late[2] = {0, 0};
    for (uint32_t i = s.firstCoef; i < s.firstCoef + s.coefCount; i++) {
        int w = d.index[i];
        double c = d.coef[i];
        double* target = partOf(w) == PAWN_PART ? pawn : partOf(w) == LATE_PART ? late : piece;
        target[0] += c * p[w][0];
        target[1] += c * p[w][1];
    }
    int ph = s.in.phase;
    double dyn[2] = {dynamismFactorHigh / 128.0, dynamismFactorLow / 128.0};
    double high = pawn[0] * 0.97 + late[0] + piece[0] * dyn[0];
    double low = pawn[1] * 0.97 + late[1] + piece[1] * dyn[1];
    dv[PAWN_PART][0] = 0.97 * ph, dv[PAWN_PART][1] = 0.97 * (96 - ph);
    dv[LATE_PART][0] = ph, dv[LATE_PART][1] = 96 - ph;
    dv[PIECE_PART][0] = dyn[0] * ph, dv[PIECE_PART][1] = dyn[1] * (96 - ph);
    return low * (96 - ph) + high * ph;
}

// White's score from v through the engine's assembly.
double whiteScore(const Sample& s, double v) {
    double clamped = std::clamp(v, -2.0e9, 2.0e9);
    return double(assembleFromPositional(s.in, int32_t(std::lround(clamped)), 0)) * s.in.stmSign;
}

// Loss (mean squared error of the win probability) and, when grad is given,
// its gradient by each effective weight half.
double evaluateLoss(const DataSet& d, const Params& p, std::vector<std::array<double, 2>>* grad) {
    double total = 0;
    if (grad) std::fill(grad->begin(), grad->end(), std::array<double, 2>{0, 0});
    for (const Sample& s : d.samples) {
        double dv[3][2];
        double v = positional(s, d, p, dv);
        double e = whiteScore(s, v);
        double prob = sigmoid(K * e);
        double err = prob - s.target;
        total += err * err;
        if (!grad) continue;
        // The assembly is piecewise linear: its slope over a few units.
        constexpr double DELTA = 4800;
        double slope = (whiteScore(s, v + DELTA) - whiteScore(s, v - DELTA)) / (2 * DELTA);
        double g = 2 * err * prob * (1 - prob) * K * slope;
        if (g == 0) continue;
        for (uint32_t i = s.firstCoef; i < s.firstCoef + s.coefCount; i++) {
            int w = d.index[i];
            double c = d.coef[i] * g;
            Part part = partOf(w);
            (*grad)[w][0] += c * dv[part][0];
            (*grad)[w][1] += c * dv[part][1];
        }
    }
    return total / double(std::max<size_t>(1, d.samples.size()));
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        auto value = [&] { return std::string(argv[++i]); };
        if (arg == "--data" && hasValue) {
            while (i + 1 < argc && argv[i + 1][0] != '-') o.data.push_back(argv[++i]);
        } else if (arg == "--out" && hasValue) {
            o.out = value();
        } else if (arg == "--iterations" && hasValue) {
            o.iterations = std::atoi(value().c_str());
        } else if (arg == "--lr" && hasValue) {
            o.lr = std::atof(value().c_str());
        } else if (arg == "--lambda" && hasValue) {
            o.lambda = std::atof(value().c_str());
        } else if (arg == "--max-positions" && hasValue) {
            o.maxPositions = size_t(std::atoll(value().c_str()));
        } else if (arg == "--validation-every" && hasValue) {
            o.validationEvery = std::max(2, std::atoi(value().c_str()));
        } else if (arg == "--max-score" && hasValue) {
            o.maxScore = std::atoi(value().c_str());
        } else if (arg == "--min-ply" && hasValue) {
            o.minPly = std::atoi(value().c_str());
        } else if (arg == "--reg" && hasValue) {
            o.reg = std::atof(value().c_str());
        } else if (arg == "--from" && hasValue) {
            o.fromTuned = value() == "tuned";
        } else {
            std::fprintf(
                stderr,
                "usage: tune_eval --data PATH... [--out FILE] [--iterations 400] [--lr 3.0] "
                "[--lambda 0.5] [--max-positions 2000000] [--validation-every 20] [--max-score 2000] "
                "[--min-ply 8] [--reg 2e-10] [--from initial|tuned]\n");
            return false;
        }
    }
    if (o.data.empty()) {
        std::fprintf(stderr, "tune_eval: --data is required\n");
        return false;
    }
    return true;
}

// Traces one record into the data set; false when it is skipped.
bool addRecord(const TrainingRecord& r, const Options& o, Position& pos, MaterialHashTable* mat,
               PawnHashTable* pawns, DataSet& d) {
    if (r.inCheck() || r.noisyBestMove() || r.ply < o.minPly || std::abs(r.score) > o.maxScore) return false;
    char fen[128];
    if (!recordToFen(r, fen)) return false;
    setFromFen(pos, fen);
    pos.materialTable = mat;
    pos.pawnTable = pawns;
    pos.cachedPositional = 0;
    static EvalTrace trace;
    Score value;
    if (!traceRegularEvaluate(pos, trace, &value)) return false;

    Sample s{};
    s.firstCoef = uint32_t(d.index.size());
    int64_t pawnHigh = pairHigh(trace.pawnRaw), pawnLow = pairLow(trace.pawnRaw);
    int64_t pieceHigh = pairHigh(trace.pieceRaw), pieceLow = pairLow(trace.pieceRaw);
    for (int w = 0; w < W_COUNT; w++) {
        if (!trace.coef[w]) continue;
        d.index.push_back(uint16_t(w));
        d.coef.push_back(trace.coef[w]);
        s.coefCount++;
        int64_t h = int64_t(trace.coef[w]) * pairHigh(RegularWeight[w]);
        int64_t l = int64_t(trace.coef[w]) * pairLow(RegularWeight[w]);
        if (partOf(w) == PAWN_PART) pawnHigh -= h, pawnLow -= l;
        if (partOf(w) == PIECE_PART) pieceHigh -= h, pieceLow -= l;
    }
    s.pawnFixedHigh = int32_t(pawnHigh), s.pawnFixedLow = int32_t(pawnLow);
    s.pieceFixedHigh = int32_t(pieceHigh), s.pieceFixedLow = int32_t(pieceLow);
    s.in = trace.inputs;

    // The target from White's view: the search score's win probability mixed
    // with the game's result.
    double stmResult = r.result * 0.5;
    double stmTarget = o.lambda * sigmoid(K * r.score) + (1 - o.lambda) * stmResult;
    s.target = float(r.sideToMove() == WHITE ? stmTarget : 1 - stmTarget);
    d.samples.push_back(s);
    return true;
}

void writeSource(const Options& o, const Params& p, int argc, char** argv) {
    FILE* f = std::fopen(o.out.c_str(), "w");
    if (!f) {
        std::fprintf(stderr, "tune_eval: cannot write %s\n", o.out.c_str());
        std::exit(1);
    }
    std::fprintf(f,
                 "// The fitted weights of the hand-written evaluation, written by tools/tune_eval:\n//  ");
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a.rfind("/root/", 0) == 0 || a.rfind("/home/", 0) == 0)
            a = "DATA/" + a.substr(a.find_last_of('/') + 1);
        std::fprintf(f, " %s", a.c_str());
    }
    std::fprintf(f, "\n// Base values: the Default style's percentages are applied on top.\n");
    std::fprintf(f, "#include \"eval/regular_weights.h\"\n\nconst WeightSet TunedWeights = {\n");
    for (int w = 0; w < W_COUNT; w++) {
        int field = styleFieldOfWeight(w);
        double factor = field < 0 ? 1.0 : (100.0 + DEFAULT_STYLE_FIELDS[field]) / 100.0;
        int high = int(std::lround(p[w][0] / factor)), low = int(std::lround(p[w][1] / factor));
        int offset;
        const char* name = weightBlockName(w, &offset);
        std::fprintf(f, "    makeScorePair(%d, %d),  // %s %d\n", high, low, name, offset);
    }
    std::fprintf(f, "};\n");
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) return 2;
    initSlidingAttacks();
    initRayTables();
    initMaterialWeights();
    buildSpecialMaterialTable();
    buildKpkBitbase();
    setDynamismFactors(100);
    const WeightSet& start = o.fromTuned ? TunedWeights : InitialWeights;
    buildRegularWeights(start.data(), DEFAULT_STYLE_FIELDS);

    MaterialHashTable* mat = nullptr;
    PawnHashTable* pawns = nullptr;
    allocateEvalHashTables(mat, pawns, 1);

    std::vector<std::string> files;
    std::string error;
    if (!listDataFiles(o.data, files, error)) {
        std::fprintf(stderr, "tune_eval: %s\n", error.c_str());
        return 1;
    }

    Params p(W_COUNT);
    for (int w = 0; w < W_COUNT; w++)
        p[w] = {double(pairHigh(RegularWeight[w])), double(pairLow(RegularWeight[w]))};
    const Params origin = p;

    // Step 1: the records, traced, split by game.
    auto clock0 = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - clock0).count();
    };
    DataSet train, valid;
    static Position pos;
    size_t read = 0, games = 0;
    for (const std::string& file : files) {
        FILE* in = std::fopen(file.c_str(), "rb");
        if (!in) {
            std::fprintf(stderr, "tune_eval: cannot read %s\n", file.c_str());
            return 1;
        }
        TrainingRecord r;
        int lastPly = 1 << 30;
        while (train.samples.size() + valid.samples.size() < o.maxPositions &&
               std::fread(&r, sizeof r, 1, in) == 1) {
            if (r.ply <= lastPly) games++;
            lastPly = r.ply;
            read++;
            DataSet& d = games % size_t(o.validationEvery) == 0 ? valid : train;
            addRecord(r, o, pos, mat, pawns, d);
            if (read % 200000 == 0)
                std::fprintf(stderr, "read %zu records, %zu games, kept %zu + %zu, %.0f s\n", read, games,
                             train.samples.size(), valid.samples.size(), elapsed());
        }
        std::fclose(in);
    }
    std::fprintf(stderr, "data: %zu records in %zu games; %zu training and %zu held-out positions (%.0f s)\n",
                 read, games, train.samples.size(), valid.samples.size(), elapsed());
    if (train.samples.empty()) {
        std::fprintf(stderr, "tune_eval: no usable positions\n");
        return 1;
    }

    // Step 2: Adam, full batch.
    std::vector<std::array<double, 2>> grad(W_COUNT), m1(W_COUNT, {0, 0}), m2(W_COUNT, {0, 0});
    const double beta1 = 0.9, beta2 = 0.999;
    double loss = evaluateLoss(train, p, nullptr), validLoss = evaluateLoss(valid, p, nullptr);
    std::fprintf(stderr, "start: training loss %.6f, held-out loss %.6f\n", loss, validLoss);
    double best = validLoss;
    Params bestParams = p;
    int bestIteration = 0;
    for (int it = 1; it <= o.iterations; it++) {
        loss = evaluateLoss(train, p, &grad);
        double lr = o.lr * (0.1 + 0.9 * 0.5 * (1 + std::cos(M_PI * (it - 1) / o.iterations)));
        for (int w = 0; w < W_COUNT; w++)
            for (int h = 0; h < 2; h++) {
                double g = grad[w][h] / double(train.samples.size()) + o.reg * (p[w][h] - origin[w][h]);
                m1[w][h] = beta1 * m1[w][h] + (1 - beta1) * g;
                m2[w][h] = beta2 * m2[w][h] + (1 - beta2) * g * g;
                double mh = m1[w][h] / (1 - std::pow(beta1, it)), vh = m2[w][h] / (1 - std::pow(beta2, it));
                p[w][h] -= lr * mh / (std::sqrt(vh) + 1e-12);
            }
        if (it % 10 == 0 || it == o.iterations) {
            validLoss = evaluateLoss(valid, p, nullptr);
            if (validLoss < best) best = validLoss, bestParams = p, bestIteration = it;
            std::fprintf(stderr, "iteration %d: training loss %.6f, held-out loss %.6f, lr %.3f, %.0f s\n",
                         it, loss, validLoss, lr, elapsed());
        }
    }
    std::fprintf(stderr, "best held-out loss %.6f at iteration %d\n", best, bestIteration);
    writeSource(o, bestParams, argc, argv);
    std::fprintf(stderr, "wrote %s\n", o.out.c_str());
    releaseEvalHashTables(mat, pawns);
    return 0;
}
