// Trains the evaluation network from self-play records on the CPU, checks an
// exported network against the integer reference and the engine, and times
// the training step.
//
//   train --data PATH... --out DIR [--init NET | --init-psqt NET] [--resume CHECKPOINT]
//         [--width 768] [--batch 16384] [--lr 1e-3] [--epochs 10 | --samples N]
//         [--schedule cosine|step] [--drop-every N] [--gamma 0.3]
//         [--lambda 0.75] [--threads 2] [--seed 1] [--no-factoriser] [--shared-rows-only]
//         [--max-score 3000] [--min-ply 8] [--skip 0] [--keep-noisy]
//         [--keep-in-check] [--validation 0.01] [--nnue-scale 72]
//         [--checkpoint-minutes 30]
//   train check --net NET --data FILE [--positions 10000] [--checkpoint CHECKPOINT]
//   train bench [--data PATH...] [--batches 20] [--batch 16384] [--width 768]
//         [--threads 2] [--no-factoriser]
//
// Training writes DIR/checkpoint.bin (weights and optimiser state) every
// --checkpoint-minutes and at the end, and the final network as DIR/net.nnue
// (plain image) and DIR/net.nnz (the built-in block). --init starts from an
// existing network (plain or block); --init-psqt takes only its PSQT weights
// and initialises the rest afresh; --resume continues a checkpoint with the
// same data and options. PATH is a record file or a directory of *.bin files.
//
// The learning rate follows a cosine from --lr down to --lr / 1000 over the
// run, or with --schedule step is multiplied by --gamma every --drop-every
// samples (default: a quarter of the run).
//
// check evaluates positions of a record file with the integer reference
// evaluator, with the engine's own loader and inference, and with the float
// model (the checkpoint's, or the network's weights in float), and fails when
// the engine and the reference differ by more than 1.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/position.h"
#include "board/sliding_attacks.h"
#include "eval/network/network.h"
#include "eval/network/network_loader.h"
#include "training/float_model.h"
#include "training/network_export.h"
#include "training/reference_eval.h"
#include "training/trainer.h"
#include "training/training_data.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Options {
    std::vector<std::string> data;
    std::string out, init, initPsqt, resume, net, checkpoint;
    int width = PAIRS;
    int batch = 16384;
    float lr = 1e-3f;
    int epochs = 10;
    uint64_t samples = 0;
    bool stepSchedule = false;
    uint64_t dropEvery = 0;
    float gamma = 0.3f;
    float lambda = 0.75f;
    int threads = 2;
    uint64_t seed = 1;
    bool factoriser = true;
    bool sharedRowsOnly = false;
    DataFilter filter;
    double validation = 0.01;
    int nnueScale = 72;
    double checkpointMinutes = 30;
    int positions = 10000;
    int batches = 20;
};

int usage() {
    std::fprintf(stderr,
                 "usage: train --data PATH... --out DIR [--init NET | --init-psqt NET] [--resume CHECKPOINT] "
                 "[--width W]\n"
                 "             [--batch B] [--lr LR] [--epochs E | --samples N] [--schedule cosine|step]\n"
                 "             [--drop-every N] [--gamma G] [--lambda L] [--threads T] [--seed S]\n"
                 "             [--no-factoriser] [--shared-rows-only] [--max-score S] [--min-ply P] [--skip "
                 "P] [--keep-noisy]\n"
                 "             [--keep-in-check] [--validation P] [--nnue-scale S] [--checkpoint-minutes M]\n"
                 "       train check --net NET --data FILE [--positions N] [--checkpoint CHECKPOINT]\n"
                 "       train bench [--data PATH...] [--batches N] [--batch B] [--width W] [--threads T]\n"
                 "             [--no-factoriser]\n");
    return 2;
}

// Reads the options after the mode word; false on anything unknown or out of range.
bool parseOptions(int argc, char** argv, int first, Options& o) {
    for (int i = first; i < argc; i++) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto value = [&] { return std::string(argv[++i]); };
        if (arg == "--data" && hasValue) {
            // Every word up to the next option is a path.
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) o.data.push_back(value());
        } else if (arg == "--out" && hasValue) {
            o.out = value();
        } else if (arg == "--init" && hasValue) {
            o.init = value();
        } else if (arg == "--init-psqt" && hasValue) {
            o.initPsqt = value();
        } else if (arg == "--resume" && hasValue) {
            o.resume = value();
        } else if (arg == "--net" && hasValue) {
            o.net = value();
        } else if (arg == "--checkpoint" && hasValue) {
            o.checkpoint = value();
        } else if (arg == "--width" && hasValue) {
            o.width = std::atoi(argv[++i]);
        } else if (arg == "--batch" && hasValue) {
            o.batch = std::atoi(argv[++i]);
        } else if (arg == "--lr" && hasValue) {
            o.lr = std::strtof(argv[++i], nullptr);
        } else if (arg == "--epochs" && hasValue) {
            o.epochs = std::atoi(argv[++i]);
        } else if (arg == "--samples" && hasValue) {
            o.samples = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--schedule" && hasValue) {
            const std::string kind = value();
            if (kind != "cosine" && kind != "step") return false;
            o.stepSchedule = kind == "step";
        } else if (arg == "--drop-every" && hasValue) {
            o.dropEvery = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--gamma" && hasValue) {
            o.gamma = std::strtof(argv[++i], nullptr);
        } else if (arg == "--lambda" && hasValue) {
            o.lambda = std::strtof(argv[++i], nullptr);
        } else if (arg == "--threads" && hasValue) {
            o.threads = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--no-factoriser") {
            o.factoriser = false;
        } else if (arg == "--shared-rows-only") {
            o.sharedRowsOnly = true;
        } else if (arg == "--max-score" && hasValue) {
            o.filter.maxAbsScore = std::atoi(argv[++i]);
        } else if (arg == "--min-ply" && hasValue) {
            o.filter.minPly = std::atoi(argv[++i]);
        } else if (arg == "--skip" && hasValue) {
            o.filter.randomSkip = std::strtod(argv[++i], nullptr);
        } else if (arg == "--keep-noisy") {
            o.filter.skipNoisyBestMove = false;
        } else if (arg == "--keep-in-check") {
            o.filter.skipInCheck = false;
        } else if (arg == "--validation" && hasValue) {
            o.validation = std::strtod(argv[++i], nullptr);
        } else if (arg == "--nnue-scale" && hasValue) {
            o.nnueScale = std::atoi(argv[++i]);
        } else if (arg == "--checkpoint-minutes" && hasValue) {
            o.checkpointMinutes = std::strtod(argv[++i], nullptr);
        } else if (arg == "--positions" && hasValue) {
            o.positions = std::atoi(argv[++i]);
        } else if (arg == "--batches" && hasValue) {
            o.batches = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "unknown or incomplete option: %s\n", arg.c_str());
            return false;
        }
    }
    if (o.width < 1 || o.width > PAIRS || o.batch < 1 || o.threads < 1 || o.threads > 64 || !(o.lr > 0) ||
        o.lambda < 0 || o.lambda > 1 || o.nnueScale < 1 || o.epochs < 1 || o.positions < 1 || o.batches < 1) {
        std::fprintf(stderr, "an option is out of range\n");
        return false;
    }
    return true;
}

// Learning rate after `seen` of `total` samples.
float learningRate(const Options& o, uint64_t seen, uint64_t total) {
    if (o.stepSchedule) {
        const uint64_t every = o.dropEvery ? o.dropEvery : std::max<uint64_t>(1, total / 4);
        return o.lr * std::pow(o.gamma, float(seen / every));
    }
    const double progress = total ? std::min(1.0, double(seen) / double(total)) : 0.0;
    const double lowest = o.lr * 1e-3;
    return float(lowest + 0.5 * (o.lr - lowest) * (1.0 + std::cos(M_PI * progress)));
}

void printLoadReport(const TrainingSet& set) {
    const LoadReport& r = set.report;
    std::printf(
        "data: %llu records in %llu games (%llu for validation); dropped: %llu invalid, %llu in check, "
        "%llu noisy best move, %llu large score, %llu early, %llu skipped\n",
        (unsigned long long)r.records, (unsigned long long)r.games, (unsigned long long)r.validationGames,
        (unsigned long long)r.invalid, (unsigned long long)r.inCheck, (unsigned long long)r.noisy,
        (unsigned long long)r.largeScore, (unsigned long long)r.early, (unsigned long long)r.skipped);
    std::printf("data: %zu training positions, %zu validation positions\n", set.training.size(),
                set.validation.size());
}

bool loadData(const Options& o, TrainingSet& set) {
    std::vector<std::string> files;
    std::string error;
    DataSettings settings;
    settings.filter = o.filter;
    settings.validationShare = o.validation;
    settings.seed = o.seed;
    if (!listDataFiles(o.data, files, error) || !loadTrainingData(files, settings, set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    printLoadReport(set);
    return true;
}

// Writes DIR/net.nnue and DIR/net.nnz and reads the block back with the
// engine's loader.
bool exportNetwork(const FloatModel& model, const std::string& dir) {
    QuantisationReport report;
    const NetworkImage image = quantiseModel(model, report);
    warnAboutQuantisation(report);
    const std::vector<uint8_t> plain = writePlainImage(image);
    if (plain.size() != PLAIN_IMAGE_BYTES) {
        std::fprintf(stderr, "export: the image has %zu bytes instead of %zu\n", plain.size(),
                     PLAIN_IMAGE_BYTES);
        return false;
    }
    const std::vector<uint8_t> block = compressBlock(plain);
    if (block.empty() || !loadFromMemory(block.data(), block.size())) {
        std::fprintf(stderr, "export: the engine cannot read the compressed block\n");
        return false;
    }
    const std::string plainPath = dir + "/net.nnue", blockPath = dir + "/net.nnz";
    if (!writeFileBytes(plainPath, plain) || !writeFileBytes(blockPath, block)) {
        std::fprintf(stderr, "export: cannot write %s or %s\n", plainPath.c_str(), blockPath.c_str());
        return false;
    }
    std::printf("exported %s (%zu bytes) and %s (%zu bytes)\n", plainPath.c_str(), plain.size(),
                blockPath.c_str(), block.size());
    return true;
}

// The model to train: from a checkpoint, an existing network, or fresh.
bool prepareModel(const Options& o, FloatModel& model) {
    std::string error;
    if (!o.resume.empty()) {
        if (!loadCheckpointModel(o.resume, model, error)) {
            std::fprintf(stderr, "%s: %s\n", o.resume.c_str(), error.c_str());
            return false;
        }
        if (model.width != o.width) std::printf("resuming at the checkpoint's width %d\n", model.width);
        return true;
    }
    if (!o.init.empty()) {
        NetworkImage image;
        if (!readNetworkFile(o.init, image, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        dequantiseImage(image, model);
        restrictWidth(model, o.width);
        return true;
    }
    initialiseModel(model, o.width, o.seed);
    if (o.sharedRowsOnly && o.factoriser) {
        // The random start moves to the factoriser rows, which alone learn;
        // the real rows contribute nothing to the sums.
        float* weights = model.ftWeights.data();
        std::copy(weights, weights + size_t(VIRTUAL_FEATURES) * NETWORK_HIDDEN,
                  weights + size_t(NETWORK_FEATURES) * NETWORK_HIDDEN);
        std::fill(weights, weights + size_t(NETWORK_FEATURES) * NETWORK_HIDDEN, 0.0f);
    }
    if (!o.initPsqt.empty()) {
        // The hidden layers start fresh (a network whose hidden weights are
        // zero passes no gradient through its pairwise products); the PSQT
        // rows start from the network's, so training begins from its
        // material and piece-square knowledge.
        NetworkImage image;
        if (!readNetworkFile(o.initPsqt, image, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        FloatModel source;
        dequantiseImage(image, source);
        size_t realRows = size_t(NETWORK_FEATURES) * NETWORK_PSQT_BUCKETS;
        std::copy(source.psqtWeights.data(), source.psqtWeights.data() + realRows, model.psqtWeights.data());
        std::fill(model.psqtWeights.data() + realRows,
                  model.psqtWeights.data() + size_t(FT_ROWS) * NETWORK_PSQT_BUCKETS, 0.0f);
    }
    return true;
}

int runTraining(const Options& o) {
    if (o.data.empty() || o.out.empty()) return usage();
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    TrainingSet set;
    if (!loadData(o, set)) return 1;
    if (set.training.empty()) {
        std::fprintf(stderr, "no training positions left after the filters\n");
        return 1;
    }

    FloatModel model;
    if (!prepareModel(o, model)) return 1;
    if (!o.factoriser) coalesceFactoriser(model);
    TrainerSettings settings;
    settings.threads = o.threads;
    settings.batchCapacity = o.batch;
    settings.factoriser = o.factoriser;
    settings.sharedRowsOnly = o.sharedRowsOnly && o.factoriser;
    Trainer trainer(model, settings);

    TrainingProgress progress;
    progress.seed = o.seed;
    const uint64_t epochSize = set.training.size();
    progress.totalSamples = o.samples ? o.samples : uint64_t(o.epochs) * epochSize;
    if (!o.resume.empty()) {
        std::string error;
        const uint64_t requested = o.samples;
        if (!trainer.load(o.resume, progress, error)) {
            std::fprintf(stderr, "%s: %s\n", o.resume.c_str(), error.c_str());
            return 1;
        }
        if (requested) progress.totalSamples = requested;
        std::printf("resumed at %llu of %llu samples\n", (unsigned long long)progress.samplesSeen,
                    (unsigned long long)progress.totalSamples);
    }

    TargetSettings targets;
    targets.lambda = o.lambda;
    targets.nnueScale = o.nnueScale;
    std::vector<ModelInput> validation(set.validation.size());
    validation.resize(decodeBatch(set.validation, 0, int(set.validation.size()), targets, validation.data()));
    auto validate = [&] {
        if (validation.empty()) return;
        const Losses l = trainer.evaluate(validation.data(), validation.size());
        std::printf("validation after %llu samples: loss %.6f, result-only loss %.6f\n",
                    (unsigned long long)progress.samplesSeen, l.target, l.result);
        std::fflush(stdout);
    };
    const std::string checkpointPath = o.out + "/checkpoint.bin";
    auto saveCheckpoint = [&] {
        if (!trainer.save(checkpointPath, progress))
            std::fprintf(stderr, "cannot write %s\n", checkpointPath.c_str());
    };

    // Each epoch shuffles the positions again with a generator seeded by the
    // run's seed and the epoch, so a resumed run replays the shuffles up to
    // its epoch and sees the order the first run would have.
    std::vector<TrainingRecord>& order = set.training;
    auto shuffleFor = [&](int epoch) {
        std::mt19937_64 rng(o.seed * 1000003 + uint64_t(epoch));
        std::shuffle(order.begin(), order.end(), rng);
    };
    int epoch = int(progress.samplesSeen / epochSize);
    for (int e = 0; e <= epoch; e++) shuffleFor(e);

    std::vector<ModelInput> inputs(o.batch);
    const Clock::time_point start = Clock::now();
    Clock::time_point lastLine = start, lastCheckpoint = start;
    const uint64_t samplesAtStart = progress.samplesSeen;
    double lineLoss = 0;
    int lineBatches = 0;
    validate();
    while (progress.samplesSeen < progress.totalSamples) {
        const uint64_t at = progress.samplesSeen % epochSize;
        const int count = int(std::min<uint64_t>(
            {uint64_t(o.batch), epochSize - at, progress.totalSamples - progress.samplesSeen}));
        const int n = decodeBatch(order, at, count, targets, inputs.data());
        const float lr = learningRate(o, progress.samplesSeen, progress.totalSamples);
        lineLoss += trainer.step(inputs.data(), n, lr);
        lineBatches++;
        progress.samplesSeen += count;

        if (secondsSince(lastLine) >= 5 || progress.samplesSeen == progress.totalSamples) {
            const double elapsed = secondsSince(start);
            std::printf("samples %llu/%llu  epoch %d  lr %.2e  loss %.6f  %.0f samples/s\n",
                        (unsigned long long)progress.samplesSeen, (unsigned long long)progress.totalSamples,
                        epoch, lr, lineLoss / lineBatches,
                        double(progress.samplesSeen - samplesAtStart) / elapsed);
            std::fflush(stdout);
            lastLine = Clock::now();
            lineLoss = 0;
            lineBatches = 0;
        }
        if (progress.samplesSeen % epochSize == 0) {
            validate();
            progress.epoch = ++epoch;
            if (progress.samplesSeen < progress.totalSamples) shuffleFor(epoch);
        }
        if (secondsSince(lastCheckpoint) >= o.checkpointMinutes * 60) {
            saveCheckpoint();
            lastCheckpoint = Clock::now();
        }
    }
    if (progress.samplesSeen % epochSize != 0) validate();
    saveCheckpoint();
    return exportNetwork(model, o.out) ? 0 : 1;
}

// ---------------------------------------------------------------------------

// The engine's network from a file, through the engine's own loaders.
std::unique_ptr<Network> loadEngineNetwork(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return nullptr;
    if (isCompressedBlock(bytes)) return loadFromMemory(bytes.data(), bytes.size());
    NetworkStream in(bytes.data(), bytes.size());
    return readPlainNetwork(in);
}

// Up to `wanted` valid records spread evenly over the file.
std::vector<TrainingRecord> sampleRecords(const std::string& path, int wanted) {
    std::vector<uint8_t> bytes;
    std::vector<TrainingRecord> all, chosen;
    if (!readFileBytes(path, bytes)) return chosen;
    all.resize(bytes.size() / TRAINING_RECORD_BYTES);
    std::memcpy(all.data(), bytes.data(), all.size() * TRAINING_RECORD_BYTES);
    const size_t step = std::max<size_t>(1, all.size() / size_t(wanted));
    Piece board[64];
    for (size_t i = 0; i < all.size() && chosen.size() < size_t(wanted); i += step)
        if (unpackBoard(all[i], board)) chosen.push_back(all[i]);
    return chosen;
}

int runCheck(const Options& o) {
    if (o.net.empty() || o.data.size() != 1) return usage();
    std::string error;
    NetworkImage image;
    if (!readNetworkFile(o.net, image, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<Network> engineNet = loadEngineNetwork(o.net);
    if (!engineNet) {
        std::fprintf(stderr, "%s: the engine's loader refuses it\n", o.net.c_str());
        return 1;
    }
    FloatModel model;
    if (!o.checkpoint.empty()) {
        if (!loadCheckpointModel(o.checkpoint, model, error)) {
            std::fprintf(stderr, "%s: %s\n", o.checkpoint.c_str(), error.c_str());
            return 1;
        }
    } else {
        dequantiseImage(image, model);
    }
    const std::vector<TrainingRecord> records = sampleRecords(o.data[0], o.positions);
    if (records.empty()) {
        std::fprintf(stderr, "%s: no records\n", o.data[0].c_str());
        return 1;
    }

    initSlidingAttacks();
    initRayTables();
    int exact = 0, offByOne = 0, mismatches = 0;
    double floatSum = 0, floatMax = 0;
    TargetSettings targets;
    for (const TrainingRecord& r : records) {
        Piece board[64];
        unpackBoard(r, board);
        int referenceBoard[64];
        for (int s = 0; s < 64; s++) referenceBoard[s] = board[s];
        const int reference = referenceEvaluate(image, referenceBoard, r.sideToMove()).raw;

        char fen[128];
        recordToFen(r, fen);
        Position pos;
        setFromFen(pos, fen);
        const int engine = networkEvaluate(*engineNet, pos);
        const int difference = std::abs(engine - reference);
        exact += difference == 0;
        offByOne += difference == 1;
        if (difference > 1 && ++mismatches <= 10)
            std::printf("mismatch: engine %d, reference %d: %s\n", engine, reference, fen);

        ModelInput input;
        recordInput(r, targets, input);
        const double floatError = std::abs(OUTPUT_UNITS * modelOutput(model, input) - reference);
        floatSum += floatError;
        floatMax = std::max(floatMax, floatError);
    }
    std::printf("%zu positions: engine = reference %d, off by one %d, mismatches %d\n", records.size(), exact,
                offByOne, mismatches);
    std::printf("float model (%s) against the reference: mean |600F - n| %.2f, max %.2f\n",
                o.checkpoint.empty() ? "the network's weights" : "the checkpoint", floatSum / records.size(),
                floatMax);
    return mismatches == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------

// Positions from random legal games (a spread of king placements and
// material), with random targets.
std::vector<ModelInput> syntheticInputs(int count, uint64_t seed) {
    initSlidingAttacks();
    initRayTables();
    std::mt19937_64 rng(seed);
    std::vector<ModelInput> inputs;
    inputs.reserve(count);
    static Position chain[2];
    while (int(inputs.size()) < count) {
        setFromFen(chain[0], START_FEN);
        const int plies = int(rng() % 160);
        for (int ply = 0; ply < plies && int(inputs.size()) < count; ply++) {
            MoveEntry list[MAX_MOVES];
            const int n = generateAll(chain[0], list);
            bool moved = false;
            for (int tries = 0; tries < 3 * n && !moved; tries++) {
                moved = makeMove(chain[0], chain[1], list[rng() % n].move);
                if (moved) {
                    chain[1].parent = nullptr;
                    chain[1].checkers = computeCheckers(chain[1]);
                    chain[0] = chain[1];
                }
            }
            if (!moved) break;
            Piece board[64];
            for (int s = 0; s < 64; s++) board[s] = chain[0].board[s];
            ModelInput input;
            if (!boardInput(board, chain[0].sideToMove(), input)) continue;
            input.target = float(rng() % 1001) / 1000.0f;
            input.result = float(rng() % 3) / 2.0f;
            inputs.push_back(input);
        }
    }
    return inputs;
}

int runBench(const Options& o) {
    std::vector<ModelInput> inputs;
    if (!o.data.empty()) {
        TrainingSet set;
        if (!loadData(o, set)) return 1;
        inputs.resize(set.training.size());
        TargetSettings targets;
        targets.lambda = o.lambda;
        inputs.resize(decodeBatch(set.training, 0, int(set.training.size()), targets, inputs.data()));
    } else {
        inputs = syntheticInputs(std::max(4 * o.batch, 65536), o.seed);
    }
    if (inputs.size() < size_t(o.batch)) {
        std::fprintf(stderr, "bench: fewer positions (%zu) than one batch\n", inputs.size());
        return 1;
    }
    FloatModel model;
    initialiseModel(model, o.width, o.seed);
    TrainerSettings settings;
    settings.threads = o.threads;
    settings.batchCapacity = o.batch;
    settings.factoriser = o.factoriser;
    settings.sharedRowsOnly = o.sharedRowsOnly && o.factoriser;
    Trainer trainer(model, settings);

    const size_t batchesInData = inputs.size() / o.batch;
    auto batchAt = [&](int b) { return inputs.data() + size_t(b % batchesInData) * o.batch; };
    // Two batches first, so that the rows' pages exist before the clock starts.
    for (int b = 0; b < 2; b++) trainer.step(batchAt(b), o.batch, o.lr);
    Clock::time_point start = Clock::now();
    double loss = 0;
    for (int b = 0; b < o.batches; b++) loss = trainer.step(batchAt(b + 2), o.batch, o.lr);
    const double trainSeconds = secondsSince(start);
    start = Clock::now();
    trainer.evaluate(inputs.data(), size_t(o.batch) * std::min<size_t>(4, batchesInData));
    const double evalSeconds = secondsSince(start);
    std::printf(
        "width %d, batch %d, %d threads, factoriser %s: %.0f samples/s training (%d batches, %.2f s; "
        "last loss %.5f), %.0f samples/s evaluating\n",
        o.width, o.batch, o.threads, o.factoriser ? "on" : "off", double(o.batches) * o.batch / trainSeconds,
        o.batches, trainSeconds, loss, double(o.batch) * std::min<size_t>(4, batchesInData) / evalSeconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool named = mode == "check" || mode == "bench";
    if (!parseOptions(argc, argv, named ? 2 : 1, o)) return usage();
    if (mode == "check") return runCheck(o);
    if (mode == "bench") return runBench(o);
    return runTraining(o);
}
