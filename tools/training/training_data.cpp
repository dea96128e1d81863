#include "training/training_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

// The evaluation adds this to the side to move's score after the damping.
constexpr int TEMPO = 2;

// Records read per fread.
constexpr size_t READ_CHUNK = 1 << 16;

// Which filter (if any) drops a record; counted in the report.
bool passesFilter(const TrainingRecord& r, const DataFilter& filter, LoadReport& report) {
    if (filter.skipInCheck && r.inCheck()) {
        report.inCheck++;
        return false;
    }
    if (filter.skipNoisyBestMove && r.noisyBestMove()) {
        report.noisy++;
        return false;
    }
    if (std::abs(int(r.score)) > filter.maxAbsScore) {
        report.largeScore++;
        return false;
    }
    if (r.ply < filter.minPly) {
        report.early++;
        return false;
    }
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

bool listDataFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                   std::string& error) {
    namespace fs = std::filesystem;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<std::string> found;
            for (const fs::directory_entry& entry : fs::directory_iterator(path, ec))
                if (entry.is_regular_file() && entry.path().extension() == ".bin")
                    found.push_back(entry.path().string());
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        } else if (fs::is_regular_file(path, ec)) {
            files.push_back(path);
        } else {
            error = path + ": no such file or directory";
            return false;
        }
    }
    if (files.empty()) {
        error = "no data files (*.bin) found";
        return false;
    }
    return true;
}

// Whole games go to one side: the split is drawn once per game. The random
// skip is drawn per position after the filters, from its own generator, so
// that the validation games do not change with the filter settings.
bool loadTrainingData(const std::vector<std::string>& files, const DataSettings& settings, TrainingSet& set,
                      std::string& error) {
    std::mt19937_64 splitRng(settings.seed), skipRng(settings.seed ^ 0x5DEECE66DULL);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    LoadReport& report = set.report;
    std::vector<TrainingRecord> chunk(READ_CHUNK);
    Piece board[64];
    for (const std::string& path : files) {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
        if (!file) {
            error = "cannot open " + path;
            return false;
        }
        int previousPly = -1;
        bool validationGame = false;
        size_t n;
        // A partial record at the end of a file is not read: fread counts whole records.
        while ((n = std::fread(chunk.data(), TRAINING_RECORD_BYTES, READ_CHUNK, file.get())) > 0) {
            for (size_t i = 0; i < n; i++) {
                const TrainingRecord& r = chunk[i];
                report.records++;
                if (int(r.ply) <= previousPly || previousPly < 0) {
                    report.games++;
                    validationGame = unit(splitRng) < settings.validationShare;
                    report.validationGames += validationGame;
                }
                previousPly = r.ply;
                if (!unpackBoard(r, board)) {
                    report.invalid++;
                    continue;
                }
                if (!passesFilter(r, settings.filter, report)) continue;
                if (validationGame) {
                    set.validation.push_back(r);
                } else if (settings.filter.randomSkip > 0 && unit(skipRng) < settings.filter.randomSkip) {
                    report.skipped++;
                } else {
                    set.training.push_back(r);
                }
            }
        }
        if (std::ferror(file.get())) {
            error = "cannot read " + path;
            return false;
        }
    }
    return true;
}

// The evaluation computed d = damp(t) + tempo with damp(t) = t * g for |t| <=
// 100 and t - sign(t) * 100 * (1 - g) beyond, g = (48 + phase / 2) / 96, and
// t = n * scale * (1024 + 20 * pawns) / 102400. Integer truncations on the
// way are not undone.
float scoreToNetworkUnits(int score, int phase, int pawns, int nnueScale) {
    const double d = score - TEMPO;
    const double g = (48 + phase / 2) / 96.0;
    double t;
    if (std::abs(d) <= 100.0 * g)
        t = d / g;
    else
        t = d + (d > 0 ? 1.0 : -1.0) * 100.0 * (1.0 - g);
    return float(t * 102400.0 / (double(nnueScale) * (1024 + 20 * pawns)));
}

bool recordInput(const TrainingRecord& record, const TargetSettings& settings, ModelInput& out) {
    Piece board[64];
    if (!unpackBoard(record, board) || !boardInput(board, record.sideToMove(), out)) return false;
    int pawns = 0;
    for (Square s = 0; s < 64; s++) pawns += typeOf(board[s]) == PAWN;
    const float n = scoreToNetworkUnits(record.score, record.phase, pawns, settings.nnueScale);
    const float scoreTarget = 1.0f / (1.0f + std::exp(-n / LOSS_SCALE_K));
    out.result = record.result * 0.5f;
    out.target = settings.lambda * scoreTarget + (1.0f - settings.lambda) * out.result;
    return true;
}

int decodeBatch(const std::vector<TrainingRecord>& records, size_t first, int count,
                const TargetSettings& settings, ModelInput* out) {
    int written = 0;
    for (size_t i = first; i < records.size() && i < first + size_t(count); i++)
        if (recordInput(records[i], settings, out[written])) written++;
    return written;
}
