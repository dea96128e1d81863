#include "training/network_export.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "eval/network/features.h"
#include "training/float_model.h"

static_assert(std::endian::native == std::endian::little, "the image is written as in memory");

namespace {

constexpr size_t BLOCK_HEADER_BYTES = 8;

// The scales of network_export.h: integer units per float unit.
constexpr double FT_SCALE = 127.0;
constexpr double PSQT_SCALE = 9600.0;
constexpr double HIDDEN_WEIGHT_SCALE = 64.0;
constexpr double HIDDEN_BIAS_SCALE = 8128.0;  // 127 * 64
constexpr double OUTPUT_WEIGHT_SCALE = 9600.0 / 127.0;
constexpr double OUTPUT_BIAS_SCALE = 9600.0;

// Writes the fields in order into a buffer sized for the whole image (growing
// it when a description is longer than ours).
struct Writer {
    std::vector<uint8_t>& out;
    size_t pos = 0;

    template <typename T>
    void put(const T* values, size_t count) {
        const size_t bytes = sizeof(T) * count;
        if (out.size() - pos < bytes) out.resize(pos + bytes);
        std::memcpy(out.data() + pos, values, bytes);
        pos += bytes;
    }
    template <typename T>
    void put(T value) {
        put(&value, 1);
    }
};

// Reads the fields in order; stops (ok = false) when the bytes run out.
struct Reader {
    const std::vector<uint8_t>& in;
    size_t pos = 0;
    bool ok = true;

    template <typename T>
    void get(T* values, size_t count) {
        size_t bytes = sizeof(T) * count;
        if (!ok || in.size() - pos < bytes) {
            ok = false;
            return;
        }
        std::memcpy(values, in.data() + pos, bytes);
        pos += bytes;
    }
    template <typename T>
    void get(T& value) {
        get(&value, 1);
    }
};

uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// round(scale * x), half away from zero, saturated to [lo, hi]; counts the
// values that had to be saturated.
int64_t quantise(float x, double scale, int64_t lo, int64_t hi, int64_t& saturated) {
    const double scaled = std::round(double(x) * scale);
    if (scaled < double(lo) || scaled > double(hi)) {
        saturated++;
        return scaled < double(lo) ? lo : hi;
    }
    return int64_t(scaled);
}

// The largest FT sum of one sign that a position can reach in a column, per
// king bucket: the bias, the own king's row, the most extreme opponent-king
// row, and the 30 most extreme rows of that sign among the other pieces' rows
// (an overestimate: it ignores how many pieces of each kind a board holds).
// The exact bound is only worked out where the quick one, 32 times the
// column's most extreme row, is not already safe.
int32_t reachableSum(const NetworkImage& net, int kingBucket, int column, int sign) {
    constexpr int PIECE_ROWS = 640;  // the rows before the shared king plane
    constexpr int OTHER_PIECES = MAX_ACTIVE_FEATURES - 2;
    const size_t base = size_t(kingBucket) * FEATURES_PER_KING_BUCKET;
    auto weight = [&](int row) {
        return sign * int32_t(net.ftWeights[(base + row) * NETWORK_HIDDEN + column]);
    };
    int32_t ownKing = 0, opponentKing = 0;
    for (int sq = 0; sq < 64; sq++) {
        const int row = PIECE_ROWS + sq;
        if (virtualFeature(int(base) + row) == NETWORK_FEATURES + PIECE_ROWS + sq)
            ownKing = weight(row);
        else
            opponentKing = std::max(opponentKing, weight(row));
    }
    int32_t values[PIECE_ROWS];
    for (int i = 0; i < PIECE_ROWS; i++) values[i] = weight(i);
    std::nth_element(values, values + OTHER_PIECES, values + PIECE_ROWS, std::greater<int32_t>());
    int32_t sum = sign * net.ftBiases[column] + ownKing + opponentKing;
    for (int i = 0; i < OTHER_PIECES; i++) sum += std::max(values[i], 0);
    return sum;
}

void checkReachableSums(const NetworkImage& net, QuantisationReport& report) {
    std::vector<int32_t> largest(NETWORK_HIDDEN);
    for (int kb = 0; kb < 32; kb++) {
        std::fill(largest.begin(), largest.end(), 0);
        for (int row = 0; row < FEATURES_PER_KING_BUCKET; row++) {
            const int16_t* w =
                net.ftWeights.data() + (size_t(kb) * FEATURES_PER_KING_BUCKET + row) * NETWORK_HIDDEN;
            for (int c = 0; c < NETWORK_HIDDEN; c++)
                largest[c] = std::max<int32_t>(largest[c], std::abs(w[c]));
        }
        for (int c = 0; c < NETWORK_HIDDEN; c++) {
            const int32_t quick = std::abs(net.ftBiases[c]) + MAX_ACTIVE_FEATURES * largest[c];
            if (quick <= 32767) {
                report.largestReachableSum = std::max(report.largestReachableSum, quick);
                continue;
            }
            for (int sign : {1, -1}) {
                const int32_t sum = reachableSum(net, kb, c, sign);
                report.largestReachableSum = std::max(report.largestReachableSum, sum);
                if (sum > 32767) report.accumulatorColumnsAtRisk++;
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> writePlainImage(const NetworkImage& net) {
    std::vector<uint8_t> out(PLAIN_IMAGE_FIXED_BYTES + net.description.size());
    Writer w{out};
    w.put(net.version);
    w.put(net.hash);
    w.put(uint32_t(net.description.size()));
    w.put(net.description.data(), net.description.size());
    w.put(net.transformerHash);
    w.put(net.ftBiases.data(), net.ftBiases.size());
    w.put(net.ftWeights.data(), net.ftWeights.size());
    w.put(net.psqt.data(), net.psqt.size());
    for (const LayerStackImage& st : net.stacks) {
        w.put(st.hash);
        w.put(st.l1Biases.data(), st.l1Biases.size());
        w.put(st.l1Weights.data(), st.l1Weights.size());
        w.put(st.l2Biases.data(), st.l2Biases.size());
        w.put(st.l2Weights.data(), st.l2Weights.size());
        w.put(st.l3Bias);
        w.put(st.l3Weights.data(), st.l3Weights.size());
    }
    return out;
}

bool readPlainImage(const std::vector<uint8_t>& bytes, NetworkImage& net) {
    Reader r{bytes};
    uint32_t length = 0;
    r.get(net.version);
    r.get(net.hash);
    r.get(length);
    if (!r.ok || length > bytes.size()) return false;
    net.description.assign(length, '\0');
    r.get(net.description.data(), length);
    if (!r.ok || net.description != NETWORK_DESCRIPTION) return false;
    r.get(net.transformerHash);
    r.get(net.ftBiases.data(), net.ftBiases.size());
    r.get(net.ftWeights.data(), net.ftWeights.size());
    r.get(net.psqt.data(), net.psqt.size());
    for (LayerStackImage& st : net.stacks) {
        r.get(st.hash);
        r.get(st.l1Biases.data(), st.l1Biases.size());
        r.get(st.l1Weights.data(), st.l1Weights.size());
        r.get(st.l2Biases.data(), st.l2Biases.size());
        r.get(st.l2Weights.data(), st.l2Weights.size());
        r.get(st.l3Bias);
        r.get(st.l3Weights.data(), st.l3Weights.size());
    }
    return r.ok;
}

std::vector<uint8_t> compressBlock(const std::vector<uint8_t>& plain) {
    uLongf length = compressBound(plain.size());
    std::vector<uint8_t> block(BLOCK_HEADER_BYTES + length);
    if (compress2(block.data() + BLOCK_HEADER_BYTES, &length, plain.data(), plain.size(), 9) != Z_OK)
        return {};
    uint32_t header[2] = {uint32_t(plain.size()), uint32_t(length)};
    std::memcpy(block.data(), header, sizeof header);
    block.resize(BLOCK_HEADER_BYTES + length);
    return block;
}

bool inflateBlock(const std::vector<uint8_t>& block, std::vector<uint8_t>& plain) {
    if (block.size() < BLOCK_HEADER_BYTES) return false;
    const uint32_t size = readLe32(block.data()), length = readLe32(block.data() + 4);
    if (block.size() - BLOCK_HEADER_BYTES != length) return false;
    plain.assign(size, 0);
    uLongf inflated = size;
    return uncompress(plain.data(), &inflated, block.data() + BLOCK_HEADER_BYTES, length) == Z_OK &&
           inflated == size;
}

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

bool isCompressedBlock(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= BLOCK_HEADER_BYTES && readLe32(bytes.data()) == PLAIN_IMAGE_BYTES &&
           readLe32(bytes.data() + 4) == bytes.size() - BLOCK_HEADER_BYTES;
}

bool readNetworkFile(const std::string& path, NetworkImage& net, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!readFileBytes(path, bytes)) {
        error = "cannot read " + path;
        return false;
    }
    if (isCompressedBlock(bytes)) {
        std::vector<uint8_t> plain;
        if (!inflateBlock(bytes, plain)) {
            error = path + ": the compressed block does not inflate";
            return false;
        }
        bytes.swap(plain);
    }
    if (bytes.size() != PLAIN_IMAGE_BYTES || !readPlainImage(bytes, net)) {
        error = path + ": not a network image";
        return false;
    }
    return true;
}

// Works on a coalesced copy of the FT so that the model itself keeps its
// factoriser rows for further training.
NetworkImage quantiseModel(const FloatModel& model, QuantisationReport& report) {
    NetworkImage net;
    report = {};
    const int width = model.width;
    auto active = [&](int column) { return column % PAIRS < width; };

    // Columns beyond the width stay zero as the image starts.
    int64_t& saturated = report.ftValuesSaturated;
    const float* biases = model.dense.data() + FT_BIASES_AT;
    for (int k = 0; k < 2 * width; k++) {
        const int c = fullColumn(k, width);
        net.ftBiases[c] = int16_t(quantise(biases[c], FT_SCALE, -32767, 32767, saturated));
    }
    for (int f = 0; f < NETWORK_FEATURES; f++) {
        const int partner = virtualFeature(f);
        const float* real = model.ftWeights.data() + size_t(f) * NETWORK_HIDDEN;
        const float* shared = model.ftWeights.data() + size_t(partner) * NETWORK_HIDDEN;
        int16_t* out = net.ftWeights.data() + size_t(f) * NETWORK_HIDDEN;
        for (int k = 0; k < 2 * width; k++) {
            const int c = fullColumn(k, width);
            out[c] = int16_t(quantise(real[c] + shared[c], FT_SCALE, -32767, 32767, saturated));
        }
        for (int b = 0; b < NETWORK_PSQT_BUCKETS; b++) {
            const float p = model.psqtWeights[size_t(f) * NETWORK_PSQT_BUCKETS + b] +
                            model.psqtWeights[size_t(partner) * NETWORK_PSQT_BUCKETS + b];
            net.psqt[size_t(f) * NETWORK_PSQT_BUCKETS + b] =
                int32_t(quantise(p, PSQT_SCALE, INT32_MIN, INT32_MAX, saturated));
        }
    }

    int64_t& hidden = report.hiddenValuesSaturated;
    int64_t unused = 0;  // biases are far inside 32 bits
    for (int s = 0; s < STACKS; s++) {
        const StackView stack = stackView(const_cast<float*>(model.dense.data()), s);
        LayerStackImage& out = net.stacks[s];
        for (int o = 0; o < L1_OUTPUTS; o++) {
            out.l1Biases[o] =
                int32_t(quantise(stack.l1Biases[o], HIDDEN_BIAS_SCALE, INT32_MIN, INT32_MAX, unused));
            for (int c = 0; c < NETWORK_HIDDEN; c++)
                out.l1Weights[o * NETWORK_HIDDEN + c] =
                    active(c) ? int8_t(quantise(stack.l1Weights[o * NETWORK_HIDDEN + c], HIDDEN_WEIGHT_SCALE,
                                                -127, 127, hidden))
                              : 0;
        }
        for (int k = 0; k < L2_OUTPUTS; k++) {
            out.l2Biases[k] =
                int32_t(quantise(stack.l2Biases[k], HIDDEN_BIAS_SCALE, INT32_MIN, INT32_MAX, unused));
            for (int i = 0; i < L2_INPUTS; i++)
                out.l2Weights[k * L2_FILE_ROW + i] = int8_t(
                    quantise(stack.l2Weights[k * L2_INPUTS + i], HIDDEN_WEIGHT_SCALE, -127, 127, hidden));
            out.l3Weights[k] = int8_t(quantise(stack.l3Weights[k], OUTPUT_WEIGHT_SCALE, -127, 127, hidden));
        }
        out.l3Bias = int32_t(quantise(*stack.l3Bias, OUTPUT_BIAS_SCALE, INT32_MIN, INT32_MAX, unused));
    }
    checkReachableSums(net, report);
    return net;
}

bool warnAboutQuantisation(const QuantisationReport& report) {
    bool clean = true;
    if (report.ftValuesSaturated > 0) {
        std::fprintf(stderr, "warning: %lld FT values beyond 16 bits were saturated\n",
                     static_cast<long long>(report.ftValuesSaturated));
        clean = false;
    }
    if (report.hiddenValuesSaturated > 0) {
        std::fprintf(stderr, "warning: %lld layer weights beyond 8 bits were saturated\n",
                     static_cast<long long>(report.hiddenValuesSaturated));
        clean = false;
    }
    if (report.accumulatorColumnsAtRisk > 0) {
        std::fprintf(stderr,
                     "warning: %d (king bucket, column) FT sums could leave 16 bits (largest reachable %d); "
                     "the engine's sums would wrap\n",
                     report.accumulatorColumnsAtRisk, report.largestReachableSum);
        clean = false;
    }
    return clean;
}

void dequantiseImage(const NetworkImage& net, FloatModel& model) {
    model.width = PAIRS;
    model.ftWeights.clear();
    model.psqtWeights.clear();
    model.dense.clear();
    for (size_t i = 0; i < net.ftWeights.size(); i++) model.ftWeights[i] = float(net.ftWeights[i] / FT_SCALE);
    for (size_t i = 0; i < net.psqt.size(); i++) model.psqtWeights[i] = float(net.psqt[i] / PSQT_SCALE);
    float* dense = model.dense.data();
    for (int c = 0; c < NETWORK_HIDDEN; c++) dense[FT_BIASES_AT + c] = float(net.ftBiases[c] / FT_SCALE);
    for (int s = 0; s < STACKS; s++) {
        const LayerStackImage& in = net.stacks[s];
        StackView stack = stackView(dense, s);
        for (int o = 0; o < L1_OUTPUTS; o++) {
            stack.l1Biases[o] = float(in.l1Biases[o] / HIDDEN_BIAS_SCALE);
            for (int c = 0; c < NETWORK_HIDDEN; c++)
                stack.l1Weights[o * NETWORK_HIDDEN + c] =
                    float(in.l1Weights[o * NETWORK_HIDDEN + c] / HIDDEN_WEIGHT_SCALE);
        }
        for (int k = 0; k < L2_OUTPUTS; k++) {
            stack.l2Biases[k] = float(in.l2Biases[k] / HIDDEN_BIAS_SCALE);
            for (int i = 0; i < L2_INPUTS; i++)
                stack.l2Weights[k * L2_INPUTS + i] =
                    float(in.l2Weights[k * L2_FILE_ROW + i] / HIDDEN_WEIGHT_SCALE);
            stack.l3Weights[k] = float(in.l3Weights[k] / OUTPUT_WEIGHT_SCALE);
        }
        *stack.l3Bias = float(in.l3Bias / OUTPUT_BIAS_SCALE);
    }
}
