// Training positions: loading record files, filtering, the validation split
// by game, and turning a record into the model's input and target.
//
// Records stay packed in memory (32 bytes each) and are decoded into model
// inputs a batch at a time, so a few million positions take a few hundred MB.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "training/float_model.h"
#include "training/training_record.h"

struct DataFilter {
    bool skipInCheck = true;
    bool skipNoisyBestMove = true;  // the score of a capture or promotion is not a quiet evaluation
    int maxAbsScore = 3000;
    int minPly = 8;
    double randomSkip = 0.0;  // share of the remaining training positions dropped at random
};

struct DataSettings {
    DataFilter filter;
    double validationShare = 0.01;  // of the games
    uint64_t seed = 1;
};

// How the scores and results become targets.
struct TargetSettings {
    float lambda = 0.75f;  // weight of the score; 1 - lambda goes to the result
    int nnueScale = 72;    // NNUE_Scale during data generation
};

struct LoadReport {
    uint64_t records = 0;
    uint64_t games = 0;
    uint64_t validationGames = 0;
    uint64_t invalid = 0;  // not a possible board
    uint64_t inCheck = 0;
    uint64_t noisy = 0;
    uint64_t largeScore = 0;
    uint64_t early = 0;
    uint64_t skipped = 0;
};

struct TrainingSet {
    std::vector<TrainingRecord> training;
    std::vector<TrainingRecord> validation;
    LoadReport report;
};

// Expands the command line's data arguments: files stay as they are, a
// directory gives its *.bin files in name order. False (with a message) when
// a path does not exist or nothing is found.
bool listDataFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                   std::string& error);

// Reads every record of the files, splits the games (a record whose ply is
// not above the previous one's starts a new game; so does a new file) into
// training and validation, and applies the filters (random skipping to the
// training side only). Appends to `set`.
bool loadTrainingData(const std::vector<std::string>& files, const DataSettings& settings, TrainingSet& set,
                      std::string& error);

// The network output n that the engine turned into the stored score: undoes
// the tempo bonus, the damping of small scores by phase and the NNUE_Scale
// scaling with its pawn-count factor.
float scoreToNetworkUnits(int score, int phase, int pawns, int nnueScale);

// The model input of a record with its target lambda * sigma(n / K) + (1 -
// lambda) * result. False when the record is not a possible board.
bool recordInput(const TrainingRecord& record, const TargetSettings& settings, ModelInput& out);

// Decodes records [first, first + count) of `records` into `out`; returns how
// many inputs were written (impossible boards are left out).
int decodeBatch(const std::vector<TrainingRecord>& records, size_t first, int count,
                const TargetSettings& settings, ModelInput* out);
