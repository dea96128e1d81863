// The network file as the tools see it: the quantised weights field by field
// in the order of the plain image, writing and reading that image and the
// compressed block the program carries built in, and the conversions between
// the float model and the quantised weights.
//
// Scales (one integer unit of each stored value, in float-model units):
//   FT weights and biases  1/127      (i16)
//   PSQT weights           1/9600     (i32)
//   L1 and L2 weights      1/64       (i8), biases 1/8128 (i32)
//   L3 weights             127/9600   (i8), bias 1/9600 (i32)
// With these the integer inference computes 600 times the float output.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "eval/network/network.h"

struct FloatModel;

// L2 rows are stored 32 wide; entries 30 and 31 are zero and never read.
constexpr int L2_FILE_ROW = 32;

// The size of a complete plain image, description included.
constexpr size_t PLAIN_IMAGE_BYTES = PLAIN_IMAGE_FIXED_BYTES + sizeof(NETWORK_DESCRIPTION) - 1;

struct LayerStackImage {
    uint32_t hash = 0;
    std::array<int32_t, L1_OUTPUTS> l1Biases{};
    std::vector<int8_t> l1Weights = std::vector<int8_t>(L1_OUTPUTS * NETWORK_HIDDEN);  // output-major
    std::array<int32_t, L2_OUTPUTS> l2Biases{};
    std::array<int8_t, L2_OUTPUTS * L2_FILE_ROW> l2Weights{};  // row k: inputs 0..29, then 2 unused
    int32_t l3Bias = 0;
    std::array<int8_t, L2_OUTPUTS> l3Weights{};
};

// A network image in memory, in the field order of the plain format.
struct NetworkImage {
    uint32_t version = 1;
    uint32_t hash = 0;
    std::string description = NETWORK_DESCRIPTION;
    uint32_t transformerHash = 0;
    std::vector<int16_t> ftBiases = std::vector<int16_t>(NETWORK_HIDDEN);
    // Feature-major: the 1536 weights of feature f start at f * 1536.
    std::vector<int16_t> ftWeights = std::vector<int16_t>(size_t(NETWORK_FEATURES) * NETWORK_HIDDEN);
    // Feature-major: the 8 bucket values of feature f start at f * 8.
    std::vector<int32_t> psqt = std::vector<int32_t>(size_t(NETWORK_FEATURES) * NETWORK_PSQT_BUCKETS);
    std::array<LayerStackImage, NETWORK_LAYER_STACKS> stacks;
};

// The plain image of a network (little-endian, PLAIN_IMAGE_BYTES long).
std::vector<uint8_t> writePlainImage(const NetworkImage& net);

// Reads a plain image; false when the bytes run out or the description is
// not the network's.
bool readPlainImage(const std::vector<uint8_t>& bytes, NetworkImage& net);

// The built-in block: u32 uncompressed size, u32 compressed length, then the
// zlib stream (level 9) of the plain image. Empty when compression fails.
std::vector<uint8_t> compressBlock(const std::vector<uint8_t>& plain);

// Inflates a block; false when its header does not match the stream.
bool inflateBlock(const std::vector<uint8_t>& block, std::vector<uint8_t>& plain);

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out);
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether the bytes look like a compressed block rather than a plain image:
// the first word is the plain image size and the second the rest's length.
bool isCompressedBlock(const std::vector<uint8_t>& bytes);

// Reads a network file that is either a plain image or a compressed block.
// False (with a message in `error`) when it is neither.
bool readNetworkFile(const std::string& path, NetworkImage& net, std::string& error);

// What quantisation found out of range. FT values that do not fit 16 bits are
// saturated; a column whose sums could leave 16 bits in some position wraps
// in the engine, which would make the network's output garbage there.
struct QuantisationReport {
    int64_t ftValuesSaturated = 0;
    int64_t hiddenValuesSaturated = 0;  // L1, L2, L3 weights beyond i8
    int accumulatorColumnsAtRisk = 0;   // (king bucket, column) pairs
    int32_t largestReachableSum = 0;    // a bound, in integer units, either sign
};

// Quantises the float model for the engine: coalesces the factoriser rows
// into the real ones, rounds half away from zero with the scales above, and
// writes zeros for the pairs beyond the model's width.
NetworkImage quantiseModel(const FloatModel& model, QuantisationReport& report);

// Prints the report's warnings to standard error; false when there were any.
bool warnAboutQuantisation(const QuantisationReport& report);

// The float model that a quantised network stands for (factoriser rows zero,
// full width), to start training from an existing network.
void dequantiseImage(const NetworkImage& net, FloatModel& model);
