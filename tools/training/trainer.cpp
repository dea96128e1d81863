#include "training/trainer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "eval/network/features.h"

namespace {

// Compact rows are padded to whole cache lines.
int rowStride(int width) {
    return (2 * width + 15) / 16 * 16;
}

// [begin, end) of part `index` of `parts` nearly equal parts of n.
struct Range {
    size_t begin, end;
};
Range share(size_t n, int index, int parts) {
    return {n * index / parts, n * (index + 1) / parts};
}

// Runs one task on a fixed set of threads at a time: the caller is thread 0,
// the others wait between tasks. A step runs a handful of tasks, each over a
// share of the batch or of the touched rows.
class WorkerPool {
  public:
    explicit WorkerPool(int count) : count(count) {
        for (int i = 1; i < count; i++) threads.emplace_back([this, i] { loop(i); });
    }

    ~WorkerPool() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            exiting = true;
            generation++;
        }
        wake.notify_all();
        for (std::thread& t : threads) t.join();
    }

    int size() const { return count; }

    void run(const std::function<void(int)>& work) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            task = &work;
            pending = count - 1;
            generation++;
        }
        wake.notify_all();
        work(0);
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return pending == 0; });
        task = nullptr;
    }

  private:
    void loop(int index) {
        uint64_t seen = 0;
        for (;;) {
            const std::function<void(int)>* work;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return generation != seen; });
                seen = generation;
                if (exiting) return;
                work = task;
            }
            (*work)(index);
            {
                std::lock_guard<std::mutex> lock(mutex);
                pending--;
            }
            done.notify_one();
        }
    }

    int count;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake, done;
    const std::function<void(int)>* task = nullptr;
    uint64_t generation = 0;
    int pending = 0;
    bool exiting = false;
};

// Per-thread gradient buffers. Row gradients are indexed by slot; the
// factoriser gradients by virtual row (0..767).
struct Worker {
    FloatArray rowGradient;
    FloatArray psqtGradient;
    FloatArray denseGradient{DENSE_PARAMETERS};
    FloatArray biasGradient;  // compact columns
    FloatArray virtualGradient;
    FloatArray virtualPsqtGradient{size_t(VIRTUAL_FEATURES) * NETWORK_PSQT_BUCKETS};
    double loss = 0, resultLoss = 0;
};

// The Adam constants of one step: the bias corrections folded into the step
// size and epsilon.
struct AdamStep {
    float beta1, beta2;
    float stepSize;  // lr * sqrt(1 - beta2^t) / (1 - beta1^t)
    float epsilon;   // epsilon * sqrt(1 - beta2^t)
};

// Lazy Adam on n values whose gradient is g: the moments are first decayed
// for the `missed` steps in which the row had no gradient.
void adamUpdate(float* __restrict w, float* __restrict m, float* __restrict v, const float* __restrict g,
                int n, const AdamStep& adam, uint32_t missed) {
    const float decay1 = missed ? adam.beta1 * std::pow(adam.beta1, float(missed)) : adam.beta1;
    const float decay2 = missed ? adam.beta2 * std::pow(adam.beta2, float(missed)) : adam.beta2;
    const float keep1 = 1.0f - adam.beta1, keep2 = 1.0f - adam.beta2;
    for (int i = 0; i < n; i++) {
        m[i] = decay1 * m[i] + keep1 * g[i];
        v[i] = decay2 * v[i] + keep2 * g[i] * g[i];
        w[i] -= adam.stepSize * m[i] / (std::sqrt(v[i]) + adam.epsilon);
    }
}

// Sums the threads' copies of n values into `out` and zeroes the copies.
void gatherAndClear(float* __restrict out, const std::vector<std::unique_ptr<Worker>>& workers,
                    FloatArray Worker::*buffer, size_t at, int n) {
    float* first = ((*workers[0]).*buffer).data() + at;
    for (int i = 0; i < n; i++) out[i] = first[i];
    std::fill(first, first + n, 0.0f);
    for (size_t w = 1; w < workers.size(); w++) {
        float* other = ((*workers[w]).*buffer).data() + at;
        for (int i = 0; i < n; i++) out[i] += other[i];
        std::fill(other, other + n, 0.0f);
    }
}

constexpr char CHECKPOINT_MAGIC[8] = {'S', 'A', 'B', 'L', 'E', 'C', 'K', 'P'};
constexpr uint32_t CHECKPOINT_VERSION = 1;

struct CheckpointHeader {
    char magic[8];
    uint32_t version;
    uint32_t width;
    uint32_t factoriser;
    uint32_t steps;
    uint64_t samplesSeen;
    uint64_t totalSamples;
    uint64_t seed;
    int64_t epoch;
};

bool writeArray(FILE* f, const void* data, size_t bytes) {
    return std::fwrite(data, 1, bytes, f) == bytes;
}

bool readArray(FILE* f, void* data, size_t bytes) {
    return std::fread(data, 1, bytes, f) == bytes;
}

// FT arrays hold 1536 columns a row; only the trained ones (2 x width) are
// written, so a narrow model has a small checkpoint.
bool writeFtColumns(FILE* f, const FloatArray& a, int width) {
    for (size_t row = 0; row < size_t(FT_ROWS); row++)
        for (int half = 0; half < 2; half++)
            if (!writeArray(f, a.data() + row * NETWORK_HIDDEN + half * PAIRS, width * sizeof(float)))
                return false;
    return true;
}

bool readFtColumns(FILE* f, FloatArray& a, int width) {
    for (size_t row = 0; row < size_t(FT_ROWS); row++)
        for (int half = 0; half < 2; half++)
            if (!readArray(f, a.data() + row * NETWORK_HIDDEN + half * PAIRS, width * sizeof(float)))
                return false;
    return true;
}

// The header and the model, the part every checkpoint reader needs. The
// model must be zero beyond the checkpoint's width (a fresh one).
bool readCheckpointModel(FILE* f, CheckpointHeader& header, FloatModel& model, std::string& error) {
    if (!readArray(f, &header, sizeof header) || std::memcmp(header.magic, CHECKPOINT_MAGIC, 8) != 0 ||
        header.version != CHECKPOINT_VERSION || header.width < 1 || header.width > uint32_t(PAIRS)) {
        error = "not a trainer checkpoint";
        return false;
    }
    model.width = int(header.width);
    if (!readFtColumns(f, model.ftWeights, model.width) ||
        !readArray(f, model.psqtWeights.data(), model.psqtWeights.size() * sizeof(float)) ||
        !readArray(f, model.dense.data(), model.dense.size() * sizeof(float))) {
        error = "the checkpoint is cut short";
        return false;
    }
    return true;
}

}  // namespace

struct Trainer::State {
    State(FloatModel& model, const TrainerSettings& settings)
        : model(model),
          settings(settings),
          width(model.width),
          stride(rowStride(model.width)),
          slotCapacity(
              std::min<size_t>(NETWORK_FEATURES, size_t(settings.batchCapacity) * 2 * MAX_ACTIVE_FEATURES)),
          pool(std::max(1, settings.threads)),
          slotOf(NETWORK_FEATURES, -1),
          slotRow(slotCapacity),
          rows(slotCapacity * stride),
          psqtRows(slotCapacity * NETWORK_PSQT_BUCKETS),
          biasRow(stride),
          sampleSlots(size_t(settings.batchCapacity) * 2 * MAX_ACTIVE_FEATURES),
          order(settings.batchCapacity),
          virtualTouched(VIRTUAL_FEATURES) {
        for (int i = 0; i < pool.size(); i++) {
            auto w = std::make_unique<Worker>();
            w->rowGradient = FloatArray(slotCapacity * stride);
            w->psqtGradient = FloatArray(slotCapacity * NETWORK_PSQT_BUCKETS);
            w->biasGradient = FloatArray(stride);
            w->virtualGradient = FloatArray(size_t(VIRTUAL_FEATURES) * stride);
            workers.push_back(std::move(w));
        }
    }

    FloatModel& model;
    TrainerSettings settings;
    int width, stride;
    size_t slotCapacity;
    WorkerPool pool;
    std::vector<std::unique_ptr<Worker>> workers;

    // Adam state.
    FloatArray ftMoment1{size_t(FT_ROWS) * NETWORK_HIDDEN}, ftMoment2{size_t(FT_ROWS) * NETWORK_HIDDEN};
    FloatArray psqtMoment1{size_t(FT_ROWS) * NETWORK_PSQT_BUCKETS},
        psqtMoment2{size_t(FT_ROWS) * NETWORK_PSQT_BUCKETS};
    FloatArray denseMoment1{DENSE_PARAMETERS}, denseMoment2{DENSE_PARAMETERS};
    std::vector<uint32_t> lastStep = std::vector<uint32_t>(FT_ROWS, 0);
    uint32_t steps = 0;

    // The batch being worked on.
    std::vector<int32_t> slotOf;   // real row -> slot, -1 when untouched
    std::vector<int32_t> slotRow;  // slot -> real row
    int slotCount = 0;
    FloatArray rows, psqtRows, biasRow;  // effective rows of the slots, compact columns
    std::vector<uint16_t> sampleSlots;   // per position: 2 x 32 slots
    std::vector<int> order;              // positions sorted by king buckets
    std::vector<uint8_t> virtualTouched;

    void assignSlots(const ModelInput* inputs, int count);
    void gatherRows();
    void forwardBackward(const ModelInput* inputs, int count, bool backward);
    void updateRow(int row, const float* g, const float* gp, const AdamStep* adam, FloatModel* gradientOut);
    void applyRows(const AdamStep* adam, FloatModel* gradientOut);
    void applyVirtualRows(const AdamStep* adam, FloatModel* gradientOut);
    void applyDense(const AdamStep* adam, FloatModel* gradientOut);
    void releaseSlots();
    void gradientPass(const ModelInput* inputs, int count);
};

// Gives every real row of the batch a slot, writes each position's slots and
// sorts the positions by their two king buckets (a counting sort: every
// feature of one view shares the view's king bucket).
void Trainer::State::assignSlots(const ModelInput* inputs, int count) {
    slotCount = 0;
    std::fill(virtualTouched.begin(), virtualTouched.end(), 0);
    int keyCounts[32 * 32 + 1] = {};
    for (int i = 0; i < count; i++) {
        const ModelInput& in = inputs[i];
        uint16_t* slots = sampleSlots.data() + size_t(i) * 2 * MAX_ACTIVE_FEATURES;
        for (int view = 0; view < 2; view++) {
            for (int k = 0; k < in.count[view]; k++) {
                const int row = in.features[view][k];
                if (slotOf[row] < 0) {
                    slotOf[row] = slotCount;
                    slotRow[slotCount++] = row;
                    virtualTouched[virtualFeature(row) - NETWORK_FEATURES] = 1;
                }
                slots[view * MAX_ACTIVE_FEATURES + k] = uint16_t(slotOf[row]);
            }
        }
        keyCounts[1 + (in.features[0][0] / FEATURES_PER_KING_BUCKET) * 32 +
                  in.features[1][0] / FEATURES_PER_KING_BUCKET]++;
    }
    for (int k = 1; k <= 32 * 32; k++) keyCounts[k] += keyCounts[k - 1];
    for (int i = 0; i < count; i++) {
        const ModelInput& in = inputs[i];
        const int key = (in.features[0][0] / FEATURES_PER_KING_BUCKET) * 32 +
                        in.features[1][0] / FEATURES_PER_KING_BUCKET;
        order[keyCounts[key]++] = i;
    }
}

// The effective row of each slot: real row plus factoriser row, the trained
// columns only.
void Trainer::State::gatherRows() {
    const float* ft = model.ftWeights.data();
    const float* psqt = model.psqtWeights.data();
    const bool factorised = settings.factoriser;
    pool.run([&](int thread) {
        const Range range = share(slotCount, thread, pool.size());
        for (size_t s = range.begin; s < range.end; s++) {
            const int row = slotRow[s];
            const int partner = virtualFeature(row);
            float* out = rows.data() + s * stride;
            float* psqtOut = psqtRows.data() + s * NETWORK_PSQT_BUCKETS;
            for (int half = 0; half < 2; half++) {
                const float* real = ft + size_t(row) * NETWORK_HIDDEN + half * PAIRS;
                const float* shared = ft + size_t(partner) * NETWORK_HIDDEN + half * PAIRS;
                float* o = out + half * width;
                if (factorised)
                    for (int j = 0; j < width; j++) o[j] = real[j] + shared[j];
                else
                    std::copy(real, real + width, o);
            }
            for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++)
                psqtOut[b] = psqt[size_t(row) * NETWORK_PSQT_BUCKETS + b] +
                             (factorised ? psqt[size_t(partner) * NETWORK_PSQT_BUCKETS + b] : 0.0f);
        }
    });
    const float* biases = model.dense.data() + FT_BIASES_AT;
    for (int c = 0; c < 2 * width; c++) biasRow[c] = biases[fullColumn(c, width)];
}

// Each thread takes a contiguous share of the sorted positions. The gradient
// of the mean loss is accumulated, so each position's dL/dF is divided by
// the batch size.
void Trainer::State::forwardBackward(const ModelInput* inputs, int count, bool backward) {
    const float* dense = model.dense.data();
    const float inverseCount = 1.0f / float(count);
    const int columns = 2 * width;
    pool.run([&](int thread) {
        Worker& worker = *workers[thread];
        alignas(64) float acc[2][NETWORK_HIDDEN];
        alignas(64) float dAcc[2][NETWORK_HIDDEN];
        const float* sums[2] = {acc[0], acc[1]};
        float* dSums[2] = {dAcc[0], dAcc[1]};
        Activations act;
        double loss = 0, resultLoss = 0;
        const Range range = share(count, thread, pool.size());
        for (size_t n = range.begin; n < range.end; n++) {
            const int i = order[n];
            const ModelInput& in = inputs[i];
            const uint16_t* slots = sampleSlots.data() + size_t(i) * 2 * MAX_ACTIVE_FEATURES;
            float psqt[2];
            for (int view = 0; view < 2; view++) {
                float* __restrict a = acc[view];
                std::copy(biasRow.data(), biasRow.data() + columns, a);
                psqt[view] = 0.0f;
                for (int k = 0; k < in.count[view]; k++) {
                    const int slot = slots[view * MAX_ACTIVE_FEATURES + k];
                    const float* __restrict row = rows.data() + size_t(slot) * stride;
                    for (int c = 0; c < columns; c++) a[c] += row[c];
                    psqt[view] += psqtRows[size_t(slot) * NETWORK_PSQT_BUCKETS + in.bucket];
                }
            }
            const float output = forwardLayers(dense, width, in.bucket, sums, (psqt[0] - psqt[1]) / 2, act);
            float dOutput, unused;
            loss += lossAndGradient(output, in.target, dOutput);
            resultLoss += lossAndGradient(output, in.result, unused);
            if (!backward) continue;

            dOutput *= inverseCount;
            backwardLayers(dense, width, in.bucket, sums, act, dOutput, worker.denseGradient.data(), dSums);
            float* __restrict bias = worker.biasGradient.data();
            for (int view = 0; view < 2; view++) {
                const float* __restrict d = dAcc[view];
                for (int c = 0; c < columns; c++) bias[c] += d[c];
                const float psqtGradient = view == 0 ? dOutput / 2 : -dOutput / 2;
                for (int k = 0; k < in.count[view]; k++) {
                    const int slot = slots[view * MAX_ACTIVE_FEATURES + k];
                    float* __restrict g = worker.rowGradient.data() + size_t(slot) * stride;
                    for (int c = 0; c < columns; c++) g[c] += d[c];
                    worker.psqtGradient[size_t(slot) * NETWORK_PSQT_BUCKETS + in.bucket] += psqtGradient;
                }
            }
        }
        worker.loss = loss;
        worker.resultLoss = resultLoss;
    });
}

// One feature-transformer row (real or factoriser) with its summed gradient
// g (the trained columns) and PSQT gradient gp: a lazy Adam step that makes
// up for the steps the row was not touched, or the gradient written out.
void Trainer::State::updateRow(int row, const float* g, const float* gp, const AdamStep* adam,
                               FloatModel* gradientOut) {
    const size_t at = size_t(row) * NETWORK_HIDDEN;
    const size_t psqtAt = size_t(row) * NETWORK_PSQT_BUCKETS;
    if (gradientOut) {
        for (int c = 0; c < 2 * width; c++) gradientOut->ftWeights[at + fullColumn(c, width)] = g[c];
        for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++) gradientOut->psqtWeights[psqtAt + b] = gp[b];
        return;
    }
    const uint32_t missed = steps - lastStep[row] - 1;
    lastStep[row] = steps;
    for (int half = 0; half < 2; half++)
        adamUpdate(model.ftWeights.data() + at + half * PAIRS, ftMoment1.data() + at + half * PAIRS,
                   ftMoment2.data() + at + half * PAIRS, g + half * width, width, *adam, missed);
    adamUpdate(model.psqtWeights.data() + psqtAt, psqtMoment1.data() + psqtAt, psqtMoment2.data() + psqtAt,
               gp, NETWORK_PSQT_BUCKETS, *adam, missed);
}

// Per slot: the threads' gradients summed, then Adam on the real row (or the
// gradient written out), and the sum passed on to the row's factoriser row in
// this thread's buffer.
void Trainer::State::applyRows(const AdamStep* adam, FloatModel* gradientOut) {
    const bool factorised = settings.factoriser;
    pool.run([&](int thread) {
        Worker& own = *workers[thread];
        alignas(64) float g[NETWORK_HIDDEN];
        float gp[NETWORK_PSQT_BUCKETS];
        const Range range = share(slotCount, thread, pool.size());
        for (size_t s = range.begin; s < range.end; s++) {
            const int row = slotRow[s];
            gatherAndClear(g, workers, &Worker::rowGradient, s * stride, 2 * width);
            gatherAndClear(gp, workers, &Worker::psqtGradient, s * NETWORK_PSQT_BUCKETS,
                           NETWORK_PSQT_BUCKETS);
            if (factorised) {
                const int v = virtualFeature(row) - NETWORK_FEATURES;
                float* __restrict vg = own.virtualGradient.data() + size_t(v) * stride;
                for (int c = 0; c < 2 * width; c++) vg[c] += g[c];
                for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++)
                    own.virtualPsqtGradient[size_t(v) * NETWORK_PSQT_BUCKETS + b] += gp[b];
            }
            if (!settings.sharedRowsOnly || gradientOut) updateRow(row, g, gp, adam, gradientOut);
        }
    });
}

// The factoriser rows that some touched real row maps to.
void Trainer::State::applyVirtualRows(const AdamStep* adam, FloatModel* gradientOut) {
    if (!settings.factoriser) return;
    pool.run([&](int thread) {
        alignas(64) float g[NETWORK_HIDDEN];
        float gp[NETWORK_PSQT_BUCKETS];
        const Range range = share(VIRTUAL_FEATURES, thread, pool.size());
        for (size_t v = range.begin; v < range.end; v++) {
            if (!virtualTouched[v]) continue;
            gatherAndClear(g, workers, &Worker::virtualGradient, v * stride, 2 * width);
            gatherAndClear(gp, workers, &Worker::virtualPsqtGradient, v * NETWORK_PSQT_BUCKETS,
                           NETWORK_PSQT_BUCKETS);
            const int row = NETWORK_FEATURES + int(v);
            updateRow(row, g, gp, adam, gradientOut);
        }
    });
}

// The small layers and the FT biases, dense; the parameters of the pairs
// beyond the width have zero gradients and moments and never move.
void Trainer::State::applyDense(const AdamStep* adam, FloatModel* gradientOut) {
    // The FT bias gradient is compact; put it into the dense layout first.
    for (size_t w = 0; w < workers.size(); w++) {
        float* dense = workers[w]->denseGradient.data() + FT_BIASES_AT;
        float* compact = workers[w]->biasGradient.data();
        for (int c = 0; c < 2 * width; c++) dense[fullColumn(c, width)] += compact[c];
        std::fill(compact, compact + 2 * width, 0.0f);
    }
    pool.run([&](int thread) {
        constexpr int CHUNK = 1024;
        float g[CHUNK];
        const Range range = share(DENSE_PARAMETERS, thread, pool.size());
        for (size_t at = range.begin; at < range.end; at += CHUNK) {
            const int n = int(std::min<size_t>(CHUNK, range.end - at));
            gatherAndClear(g, workers, &Worker::denseGradient, at, n);
            if (gradientOut)
                std::copy(g, g + n, gradientOut->dense.data() + at);
            else
                adamUpdate(model.dense.data() + at, denseMoment1.data() + at, denseMoment2.data() + at, g, n,
                           *adam, 0);
        }
    });
    if (!gradientOut) clipWeights(model);
}

void Trainer::State::releaseSlots() {
    for (int s = 0; s < slotCount; s++) slotOf[slotRow[s]] = -1;
    slotCount = 0;
}

void Trainer::State::gradientPass(const ModelInput* inputs, int count) {
    assignSlots(inputs, count);
    gatherRows();
    forwardBackward(inputs, count, true);
}

Trainer::Trainer(FloatModel& model, const TrainerSettings& settings)
    : state(std::make_unique<State>(model, settings)) {}

Trainer::~Trainer() = default;

double Trainer::step(const ModelInput* inputs, int count, float learningRate) {
    State& s = *state;
    if (count <= 0) return 0;
    count = std::min(count, s.settings.batchCapacity);
    s.gradientPass(inputs, count);
    s.steps++;
    const double t = s.steps;
    const double correction2 = std::sqrt(1.0 - std::pow(double(s.settings.beta2), t));
    const double correction1 = 1.0 - std::pow(double(s.settings.beta1), t);
    const AdamStep adam{s.settings.beta1, s.settings.beta2, float(learningRate * correction2 / correction1),
                        float(s.settings.epsilon * correction2)};
    s.applyRows(&adam, nullptr);
    s.applyVirtualRows(&adam, nullptr);
    s.applyDense(&adam, nullptr);
    s.releaseSlots();
    double loss = 0;
    for (const auto& w : s.workers) loss += w->loss;
    return loss / count;
}

Losses Trainer::evaluate(const ModelInput* inputs, size_t count) {
    State& s = *state;
    Losses total;
    for (size_t first = 0; first < count; first += s.settings.batchCapacity) {
        const int n = int(std::min<size_t>(s.settings.batchCapacity, count - first));
        s.assignSlots(inputs + first, n);
        s.gatherRows();
        s.forwardBackward(inputs + first, n, false);
        s.releaseSlots();
        for (const auto& w : s.workers) {
            total.target += w->loss;
            total.result += w->resultLoss;
        }
    }
    if (count > 0) {
        total.target /= double(count);
        total.result /= double(count);
    }
    return total;
}

void Trainer::batchGradient(const ModelInput* inputs, int count, FloatModel& gradient) {
    State& s = *state;
    count = std::min(count, s.settings.batchCapacity);
    gradient.dense.clear();
    s.gradientPass(inputs, count);
    s.applyRows(nullptr, &gradient);
    s.applyVirtualRows(nullptr, &gradient);
    s.applyDense(nullptr, &gradient);
    s.releaseSlots();
}

uint32_t Trainer::stepsTaken() const {
    return state->steps;
}

bool Trainer::save(const std::string& path, const TrainingProgress& progress) const {
    const State& s = *state;
    CheckpointHeader header{};
    std::memcpy(header.magic, CHECKPOINT_MAGIC, 8);
    header.version = CHECKPOINT_VERSION;
    header.width = uint32_t(s.model.width);
    header.factoriser = s.settings.factoriser;
    header.steps = s.steps;
    header.samplesSeen = progress.samplesSeen;
    header.totalSamples = progress.totalSamples;
    header.seed = progress.seed;
    header.epoch = progress.epoch;

    const std::string temporary = path + ".part";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    auto floats = [&](const FloatArray& a) { return writeArray(f, a.data(), a.size() * sizeof(float)); };
    const int width = s.model.width;
    bool ok = writeArray(f, &header, sizeof header) && writeFtColumns(f, s.model.ftWeights, width) &&
              floats(s.model.psqtWeights) && floats(s.model.dense) && writeFtColumns(f, s.ftMoment1, width) &&
              writeFtColumns(f, s.ftMoment2, width) && floats(s.psqtMoment1) && floats(s.psqtMoment2) &&
              floats(s.denseMoment1) && floats(s.denseMoment2) &&
              writeArray(f, s.lastStep.data(), s.lastStep.size() * sizeof(uint32_t));
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
}

// The trainer's layout depends on the width, so the checkpoint must have the
// width this trainer was made for.
bool Trainer::load(const std::string& path, TrainingProgress& progress, std::string& error) {
    State& s = *state;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    CheckpointHeader header{};
    auto floats = [&](FloatArray& a) { return readArray(f, a.data(), a.size() * sizeof(float)); };
    bool ok = readCheckpointModel(f, header, s.model, error);
    if (ok && int(header.width) != s.width) {
        error = "the checkpoint is for width " + std::to_string(header.width);
        ok = false;
    }
    if (ok &&
        !(readFtColumns(f, s.ftMoment1, s.width) && readFtColumns(f, s.ftMoment2, s.width) &&
          floats(s.psqtMoment1) && floats(s.psqtMoment2) && floats(s.denseMoment1) &&
          floats(s.denseMoment2) && readArray(f, s.lastStep.data(), s.lastStep.size() * sizeof(uint32_t)))) {
        error = "the checkpoint is cut short";
        ok = false;
    }
    std::fclose(f);
    if (!ok) return false;
    s.steps = header.steps;
    progress.samplesSeen = header.samplesSeen;
    progress.totalSamples = header.totalSamples;
    progress.seed = header.seed;
    progress.epoch = int(header.epoch);
    return true;
}

bool loadCheckpointModel(const std::string& path, FloatModel& model, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    CheckpointHeader header{};
    const bool ok = readCheckpointModel(f, header, model, error);
    std::fclose(f);
    return ok;
}
