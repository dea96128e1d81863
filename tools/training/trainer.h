// Mini-batch training of the float model on the CPU.
//
// A batch touches only the FT rows of the features its positions have (a few
// thousand of the 22528), so each step works on those rows alone:
//   1. the touched rows get compact slots, and each slot's effective row
//      (real row plus its factoriser row, only the trained columns) is
//      gathered once;
//   2. worker threads run the forward and backward passes over their share
//      of the batch, into per-thread gradients (slot rows, small layers);
//   3. the threads sum the per-thread gradients row by row and apply Adam to
//      the touched real rows, then to the factoriser rows (which receive the
//      sum of their real rows' gradients), then to the small layers.
// FT rows use lazy Adam: a row's moments are decayed for the steps it was not
// touched when it is touched next, which is exact for the moments; the
// small layers use plain Adam. The L1-L3 weights are clipped after each step.
//
// Positions are processed sorted by the two king buckets, which changes no
// sums (up to float rounding) but keeps the rows they share in cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "training/float_model.h"

struct TrainerSettings {
    int threads = 2;
    int batchCapacity = 16384;  // the largest batch step() and evaluate() get
    bool factoriser = true;
    // Only the factoriser rows learn; the real rows keep their values. The
    // feature transformer then sees piece and square without the king's
    // bucket: far fewer weights, for data sets too small for all of them.
    bool sharedRowsOnly = false;
    float beta1 = 0.9f;
    float beta2 = 0.999f;
    float epsilon = 1e-8f;
};

// Where a run is, saved with the checkpoint so that a resumed run continues
// its schedule and its pass over the data.
struct TrainingProgress {
    uint64_t samplesSeen = 0;
    uint64_t totalSamples = 0;  // the run's length, for the schedule
    uint64_t seed = 0;
    int epoch = 0;
};

struct Losses {
    double target = 0;  // against the training target (the score/result mix)
    double result = 0;  // against the game result alone
};

class Trainer {
  public:
    Trainer(FloatModel& model, const TrainerSettings& settings);
    ~Trainer();
    Trainer(const Trainer&) = delete;
    Trainer& operator=(const Trainer&) = delete;

    // One Adam step on `count` positions (at most batchCapacity) with the
    // given learning rate. Returns the batch's mean loss before the step.
    double step(const ModelInput* inputs, int count, float learningRate);

    // Mean losses of the model on the inputs (any number), without training.
    Losses evaluate(const ModelInput* inputs, size_t count);

    // The gradient of the mean loss over the batch in the model's layout
    // (factoriser rows separate), through the same path as step(), without
    // changing the model. Writes the rows the batch touches and the small
    // layers; `gradient` must be zero elsewhere (a fresh model). For tests.
    void batchGradient(const ModelInput* inputs, int count, FloatModel& gradient);

    uint32_t stepsTaken() const;

    // Writes the model, the optimiser state and the progress; false when the
    // file cannot be written. The file is written beside `path` and renamed,
    // so an interrupted write leaves the previous checkpoint intact.
    bool save(const std::string& path, const TrainingProgress& progress) const;
    // Reads what save() wrote into the model and this trainer, which must be
    // fresh (zero beyond the width) and of the checkpoint's width; false (with
    // a message in `error`) when the file is not such a checkpoint.
    bool load(const std::string& path, TrainingProgress& progress, std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state;
};

// Reads the model out of a checkpoint without the optimiser state, into a
// fresh model.
bool loadCheckpointModel(const std::string& path, FloatModel& model, std::string& error);
