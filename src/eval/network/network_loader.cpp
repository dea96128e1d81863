#include "eval/network/network_loader.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "eval/network/layer_stack.h"
#include "eval/network/network_magic.h"

// Weight arrays are copied straight from the file bytes into the network.
static_assert(std::endian::native == std::endian::little, "network files are little-endian");

namespace {

constexpr size_t DESCRIPTION_LENGTH = sizeof(NETWORK_DESCRIPTION) - 1;

// In the file each L2 row has 32 weights; the last two feed nothing and are
// dropped on reading.
constexpr size_t L2_FILE_ROW = 32;

// Image layout: version, hash and description length (12 bytes), the
// description, then the body below.
constexpr size_t HEADER_WORDS_BYTES = 12;
constexpr size_t TRANSFORMER_FILE_BYTES = 4 + sizeof(FeatureTransformer::biases) +
                                          sizeof(FeatureTransformer::weights) +
                                          sizeof(FeatureTransformer::psqtWeights);
constexpr size_t STACK_FILE_BYTES = 4 + sizeof(LayerStack::l1Biases) + sizeof(LayerStack::l1Weights) +
                                    L2_OUTPUTS * 4 + L2_OUTPUTS * L2_FILE_ROW + 4 + L2_OUTPUTS;
constexpr size_t BODY_BYTES = TRANSFORMER_FILE_BYTES + NETWORK_LAYER_STACKS * STACK_FILE_BYTES;
static_assert(HEADER_WORDS_BYTES + BODY_BYTES == PLAIN_IMAGE_FIXED_BYTES);

// Both the built-in block and the container's inner block start with two
// words: image size and compressed length.
constexpr size_t BLOCK_HEADER_BYTES = 8;
// A container starts with magic1, magic2, keptLength, payloadLength.
constexpr size_t CONTAINER_HEADER_BYTES = 16;

struct FreeBytes {
    void operator()(uint8_t* p) const { std::free(p); }
};
using ByteBuffer = std::unique_ptr<uint8_t[], FreeBytes>;

uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The size of an open file, or SIZE_MAX when it cannot be found out (a pipe).
// Leaves the file position where it was.
size_t fileSize(FILE* file) {
    long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return SIZE_MAX;
    long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0 || end < 0) return SIZE_MAX;
    return size_t(end);
}

// The description must be ours, length included. Another length fails the
// stream before its bytes are read, so a huge announced length costs nothing.
void checkDescription(NetworkStream& in, uint32_t length) {
    char text[DESCRIPTION_LENGTH];
    if (length != DESCRIPTION_LENGTH || !in.read(text, DESCRIPTION_LENGTH) ||
        std::memcmp(text, NETWORK_DESCRIPTION, DESCRIPTION_LENGTH) != 0)
        in.fail();
}

// Feature-transformer hash (unchecked), biases, weights, PSQT weights: the
// file order, which is not the order of the fields in memory.
void readTransformer(NetworkStream& in, FeatureTransformer& transformer) {
    uint32_t hash = 0;
    in.readU32(hash);
    in.read(transformer.biases, sizeof transformer.biases);
    in.read(transformer.weights, sizeof transformer.weights);
    in.read(transformer.psqtWeights, sizeof transformer.psqtWeights);
}

// One layer stack: hash (unchecked), then L1, L2 and L3, each biases first.
// L2 and L3 are integers in the file and become floats of the same value.
void readLayerStack(NetworkStream& in, LayerStack& stack) {
    uint32_t hash = 0;
    in.readU32(hash);
    in.read(stack.l1Biases, sizeof stack.l1Biases);
    in.read(stack.l1Weights, sizeof stack.l1Weights);

    int32_t l2Biases[L2_OUTPUTS] = {};
    int8_t l2Rows[L2_OUTPUTS][L2_FILE_ROW] = {};
    int32_t l3Bias = 0;
    int8_t l3Weights[L2_OUTPUTS] = {};
    in.read(l2Biases, sizeof l2Biases);
    in.read(l2Rows, sizeof l2Rows);
    in.read(&l3Bias, sizeof l3Bias);
    in.read(l3Weights, sizeof l3Weights);
    if (in.hasFailed()) return;

    for (int k = 0; k < L2_OUTPUTS; k++) {
        stack.l2Biases[k] = float(l2Biases[k]);
        for (int i = 0; i < L2_INPUTS; i++) stack.l2Weights[k * L2_INPUTS + i] = float(l2Rows[k][i]);
        stack.l3Weights[k] = float(l3Weights[k]);
    }
    stack.l3Bias = float(l3Bias);
    arrangeFirstLayerWeights(stack);
}

// Undoes the container's scrambling in place: whole key-length blocks of the
// payload were XORed with the key; a shorter tail was left as it was. Only
// the first n bytes of the payload are at hand (the rest is never used), and
// scrambledBytes says how many of the payload's bytes are in whole blocks.
void unscramble(uint8_t* payload, size_t n, size_t scrambledBytes) {
    size_t end = std::min(n, scrambledBytes);
    for (size_t i = 0; i < end; i++)
        payload[i] ^= uint8_t(NETWORK_SCRAMBLE_KEY[i % NETWORK_SCRAMBLE_KEY_LENGTH]);
}

// The container path of loadFromStream, with the file at its start. Only the
// kept part of the payload is read, and only after the header's lengths have
// been checked against the file and against the largest block that can
// inflate to an image we accept.
std::unique_ptr<Network> readContainer(FILE* file) {
    uint8_t header[CONTAINER_HEADER_BYTES];
    if (std::fread(header, 1, sizeof header, file) != sizeof header) return nullptr;
    if (!isNetworkMagic(readLe32(header)) || !isNetworkMagic(readLe32(header + 4))) return nullptr;
    uint32_t keptLength = readLe32(header + 8);
    uint32_t payloadLength = readLe32(header + 12);

    size_t size = fileSize(file);
    if (size != SIZE_MAX && payloadLength > size - CONTAINER_HEADER_BYTES) return nullptr;
    size_t largestBlock = BLOCK_HEADER_BYTES + compressBound(MAX_PLAIN_IMAGE_BYTES);
    if (keptLength > payloadLength || keptLength > largestBlock) return nullptr;

    ByteBuffer kept(static_cast<uint8_t*>(std::malloc(std::max<size_t>(keptLength, 1))));
    if (!kept || std::fread(kept.get(), 1, keptLength, file) != keptLength) return nullptr;
    size_t wholeBlocks = payloadLength / NETWORK_SCRAMBLE_KEY_LENGTH;
    unscramble(kept.get(), keptLength, wholeBlocks * NETWORK_SCRAMBLE_KEY_LENGTH);
    return loadFromMemory(kept.get(), keptLength);
}

}  // namespace

NetworkStream::NetworkStream(FILE* file) : file(file) {
    long here = std::ftell(file);
    size_t total = fileSize(file);
    if (here >= 0 && total != SIZE_MAX) {
        position = size_t(here);
        size = total;
    }
}

NetworkStream::NetworkStream(const uint8_t* data, size_t size) : data(data), size(size) {}

bool NetworkStream::read(void* out, size_t n) {
    if (failed) return false;
    if (file) {
        failed = std::fread(out, 1, n, file) != n;
    } else {
        failed = n > size - position;
        if (!failed) std::memcpy(out, data + position, n);
    }
    if (!failed) position += n;
    return !failed;
}

bool NetworkStream::readU32(uint32_t& value) {
    uint8_t bytes[4];
    if (!read(bytes, sizeof bytes)) return false;
    value = readLe32(bytes);
    return true;
}

size_t NetworkStream::remaining() const {
    if (size == SIZE_MAX) return SIZE_MAX;
    return position < size ? size - position : 0;
}

// Header and description first, so that a file that is not ours costs no
// allocation; then, when the stream cannot hold the whole body, we know the
// reads would fail and give up before allocating 70 MB. The stacks are read
// in bucket order and reading stops at the first failure.
std::unique_ptr<Network> readPlainNetwork(NetworkStream& in) {
    uint32_t version = 0, hash = 0, descriptionLength = 0;
    in.readU32(version);
    in.readU32(hash);
    if (in.readU32(descriptionLength)) checkDescription(in, descriptionLength);
    if (in.hasFailed() || in.remaining() < BODY_BYTES) return nullptr;

    auto network = std::make_unique<Network>();
    readTransformer(in, *network->transformer);
    for (int bucket = 0; bucket < NETWORK_LAYER_STACKS && !in.hasFailed(); bucket++)
        readLayerStack(in, network->stacks[bucket]);
    if (in.hasFailed()) return nullptr;
    measureDeadPairs(*network->transformer);
    return network;
}

// The image is inflated in one call into a buffer of the announced size. The
// header is checked first: the compressed bytes must be inside the block and
// the announced size must be one we accept, so a lying header reads nothing
// outside the block and allocates nothing huge. A stream that is corrupt or
// inflates to another size than announced is refused: reading on would load a
// network whose missing weights are silently zero.
std::unique_ptr<Network> loadFromMemory(const uint8_t* block, size_t size) {
    if (!block || size < BLOCK_HEADER_BYTES) return nullptr;
    uint32_t imageSize = readLe32(block);
    uint32_t compressedLength = readLe32(block + 4);
    if (compressedLength > size - BLOCK_HEADER_BYTES) return nullptr;
    if (imageSize == 0 || imageSize > MAX_PLAIN_IMAGE_BYTES) return nullptr;

    ByteBuffer image(static_cast<uint8_t*>(std::calloc(imageSize, 1)));
    if (!image) return nullptr;
    uLongf inflatedLength = imageSize;
    if (uncompress(image.get(), &inflatedLength, block + BLOCK_HEADER_BYTES, compressedLength) != Z_OK ||
        inflatedLength != imageSize)
        return nullptr;
    NetworkStream in(image.get(), imageSize);
    return readPlainNetwork(in);
}

std::unique_ptr<Network> loadFromStream(FILE* file) {
    uint8_t words[8];
    bool scrambled = std::fread(words, 1, sizeof words, file) == sizeof words &&
                     isNetworkMagic(readLe32(words)) && isNetworkMagic(readLe32(words + 4));
    if (std::fseek(file, 0, SEEK_SET) != 0) return nullptr;
    if (scrambled) return readContainer(file);
    NetworkStream in(file);
    return readPlainNetwork(in);
}
