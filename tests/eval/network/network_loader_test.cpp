// Network loading: plain images, compressed blocks and scrambled containers
// built here byte by byte, with weights in a recognisable pattern so that a
// field read from the wrong place shows up; headers that lie; and the
// manager's messages, in process and through the real binary.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../../uci/engine_process.h"
#include "core/options.h"
#include "eval/network/embedded_network.h"
#include "eval/network/network.h"
#include "eval/network/network_loader.h"
#include "eval/network/network_magic.h"
#include "eval/network/network_manager.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- The weight pattern ----------------------------------------------------
// Each field has its own values; the periods divide none of the field sizes,
// so reading from a shifted offset or with a wrong row length changes them.

int16_t ftBias(size_t i) {
    return int16_t(3 * int(i) - 2000);
}
int16_t ftWeight(size_t i) {
    return int16_t(int(i % 1021) - 510);
}
int32_t psqtWeight(size_t i) {
    return int32_t(i % 1019) * 977 - 400000;
}
int32_t l1Bias(int b, int o) {
    return 100000 * b + 7 * o - 50;
}
int8_t l1Weight(int b, size_t i) {
    return int8_t(int((i + 17 * size_t(b)) % 251) - 125);
}
// Large but exact as floats: the conversion must not scale.
int32_t l2Bias(int b, int k) {
    return -1000003 * (b + 1) + k;
}
int8_t l2Weight(int b, int k, int i) {
    return int8_t(11 * b + 3 * k - i - 60);
}  // -89..110
int32_t l3Bias(int b) {
    return 1234567 * b - 4;
}
int8_t l3Weight(int b, int k) {
    return int8_t(k - 16 + 3 * b);
}
// The two unused weights at the end of each L2 row in the file; no kept
// weight takes these values.
constexpr int8_t SKIPPED_L2[2] = {127, -128};

void appendU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

void putU32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Appends count values of type T (little-endian, as the machine stores them).
template <typename T, typename Value>
void appendValues(Bytes& out, size_t count, Value value) {
    size_t at = out.size();
    out.resize(at + count * sizeof(T));
    for (size_t i = 0; i < count; i++) {
        T v = value(i);
        std::memcpy(out.data() + at + i * sizeof(T), &v, sizeof(T));
    }
}

// The plain image of the pattern network, in file order.
Bytes buildImage(const std::string& description) {
    Bytes out;
    out.reserve(PLAIN_IMAGE_FIXED_BYTES + description.size() + 8192);
    appendU32(out, 0x7AF32F20);  // version
    appendU32(out, 0x3C103E72);  // hash
    appendU32(out, uint32_t(description.size()));
    out.insert(out.end(), description.begin(), description.end());
    appendU32(out, 0x5D69D7B8);  // feature-transformer hash
    appendValues<int16_t>(out, NETWORK_HIDDEN, ftBias);
    appendValues<int16_t>(out, size_t(NETWORK_FEATURES) * NETWORK_HIDDEN, ftWeight);
    appendValues<int32_t>(out, size_t(NETWORK_FEATURES) * NETWORK_PSQT_BUCKETS, psqtWeight);
    for (int b = 0; b < NETWORK_LAYER_STACKS; b++) {
        appendU32(out, 0x63337156);  // stack hash
        appendValues<int32_t>(out, L1_OUTPUTS, [b](size_t o) { return l1Bias(b, int(o)); });
        appendValues<int8_t>(out, size_t(L1_OUTPUTS) * NETWORK_HIDDEN,
                             [b](size_t i) { return l1Weight(b, i); });
        appendValues<int32_t>(out, L2_OUTPUTS, [b](size_t k) { return l2Bias(b, int(k)); });
        appendValues<int8_t>(out, L2_OUTPUTS * 32, [b](size_t i) {
            int k = int(i / 32), column = int(i % 32);
            return column < 30 ? l2Weight(b, k, column) : SKIPPED_L2[column - 30];
        });
        appendValues<int32_t>(out, 1, [b](size_t) { return l3Bias(b); });
        appendValues<int8_t>(out, L2_OUTPUTS, [b](size_t k) { return l3Weight(b, int(k)); });
    }
    return out;
}

// Every weight of a loaded network against the pattern. Counts mismatches per
// field instead of failing per value, so a fault gives a short report.
void expectPatternWeights(const Network& net) {
    const FeatureTransformer& ft = *net.transformer;
    size_t biases = 0, weights = 0, psqt = 0;
    for (size_t i = 0; i < size_t(NETWORK_HIDDEN); i++) biases += ft.biases[i] != ftBias(i);
    for (size_t i = 0; i < size_t(NETWORK_FEATURES) * NETWORK_HIDDEN; i++)
        weights += ft.weights[i] != ftWeight(i);
    for (size_t i = 0; i < size_t(NETWORK_FEATURES) * NETWORK_PSQT_BUCKETS; i++)
        psqt += ft.psqtWeights[i] != psqtWeight(i);
    EXPECT_EQ(biases, 0u) << "feature-transformer biases";
    EXPECT_EQ(weights, 0u) << "feature-transformer weights";
    EXPECT_EQ(psqt, 0u) << "PSQT weights";

    for (int b = 0; b < NETWORK_LAYER_STACKS; b++) {
        const LayerStack& s = net.stacks[b];
        size_t l1 = 0, l2 = 0, l3 = 0;
        for (int o = 0; o < L1_OUTPUTS; o++) l1 += s.l1Biases[o] != l1Bias(b, o);
        for (size_t i = 0; i < size_t(L1_OUTPUTS) * NETWORK_HIDDEN; i++)
            l1 += s.l1Weights[i] != l1Weight(b, i);
        for (int k = 0; k < L2_OUTPUTS; k++) {
            l2 += s.l2Biases[k] != float(l2Bias(b, k));
            for (int i = 0; i < L2_INPUTS; i++)
                l2 += s.l2Weights[k * L2_INPUTS + i] != float(l2Weight(b, k, i));
            l3 += s.l3Weights[k] != float(l3Weight(b, k));
        }
        l3 += s.l3Bias != float(l3Bias(b));
        EXPECT_EQ(l1, 0u) << "L1 of stack " << b;
        EXPECT_EQ(l2, 0u) << "L2 of stack " << b;
        EXPECT_EQ(l3, 0u) << "L3 of stack " << b;
    }
}

// ---- Compressed blocks and containers -------------------------------------

// A built-in-style block: image size, compressed length, zlib stream.
Bytes compressedBlock(const uint8_t* image, size_t size) {
    uLongf length = compressBound(size);
    Bytes block(8 + length);
    EXPECT_EQ(compress2(block.data() + 8, &length, image, size, 1), Z_OK);
    block.resize(8 + length);
    putU32(block, 0, uint32_t(size));
    putU32(block, 4, uint32_t(length));
    return block;
}

// A block whose zlib stream is made of stored (uncompressed) blocks, so the
// image's bytes appear in it unchanged: its last bytes before the checksum are
// the last weights of stack 7. The image is split into as many stored blocks
// as it takes for the whole block's length to leave `remainder` when divided
// by the key length.
Bytes storedBlock(const uint8_t* image, size_t size, size_t remainder) {
    size_t blocks = (size + 65534) / 65535;
    while ((8 + 2 + size + 5 * blocks + 4) % NETWORK_SCRAMBLE_KEY_LENGTH != remainder) blocks++;
    Bytes block(8, 0);
    block.reserve(8 + 2 + size + 5 * blocks + 4);
    block.push_back(0x78);  // deflate, 32 KB window, no dictionary
    block.push_back(0x01);
    size_t done = 0;
    for (size_t b = 0; b < blocks; b++) {
        size_t length = (size - done) / (blocks - b);
        block.push_back(b + 1 == blocks ? 1 : 0);  // final flag, type "stored"
        uint16_t len = uint16_t(length), nlen = uint16_t(~len);
        block.insert(block.end(), {uint8_t(len), uint8_t(len >> 8), uint8_t(nlen), uint8_t(nlen >> 8)});
        block.insert(block.end(), image + done, image + done + length);
        done += length;
    }
    uint32_t check = uint32_t(adler32(adler32(0, nullptr, 0), image, uInt(size)));
    block.insert(block.end(),
                 {uint8_t(check >> 24), uint8_t(check >> 16), uint8_t(check >> 8), uint8_t(check)});
    putU32(block, 0, uint32_t(size));
    putU32(block, 4, uint32_t(block.size() - 8));
    return block;
}

// Scrambles in place, written independently of the loader: whole 41-byte
// blocks of the payload are XORed with the key, a shorter tail is not.
void scramble(uint8_t* payload, size_t length) {
    size_t whole = length / 41 * 41;
    for (size_t i = 0; i < whole; i++) payload[i] ^= uint8_t(NETWORK_SCRAMBLE_KEY[i % 41]);
}

// A container around `block`, followed by `padding` payload bytes that are
// scrambled with the rest but not kept.
Bytes buildContainer(const Bytes& block, uint32_t magic1, uint32_t magic2, size_t padding) {
    Bytes out;
    out.reserve(16 + block.size() + padding);
    appendU32(out, magic1);
    appendU32(out, magic2);
    appendU32(out, uint32_t(block.size()));
    appendU32(out, uint32_t(block.size() + padding));
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), padding, 0xA5);
    scramble(out.data() + 16, out.size() - 16);
    return out;
}

// Runs loadFromStream on bytes in memory, through a C stream as a file would.
std::unique_ptr<Network> loadFromBytes(const uint8_t* data, size_t size) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    EXPECT_NE(file, nullptr);
    if (!file) return nullptr;
    std::unique_ptr<Network> net = loadFromStream(file);
    std::fclose(file);
    return net;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    ASSERT_TRUE(out.good()) << path;
}

// ---- Fixture ----------------------------------------------------------------

// One pattern image per test binary (about 70 MB), followed by junk bytes
// that are part of the buffer but not of the image; and, made on demand, the
// image as a file.
class NetworkFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bytes = buildImage(NETWORK_DESCRIPTION);
        imageSize = bytes.size();
        bytes.insert(bytes.end(), 4096, 0xEE);
    }
    static void TearDownTestSuite() {
        Bytes().swap(bytes);
        if (!filePath.empty()) std::remove(filePath.c_str());
        filePath.clear();
    }

    static const uint8_t* image() { return bytes.data(); }

    static const std::string& plainFile() {
        if (filePath.empty()) {
            filePath = ::testing::TempDir() + "sable_network_" + std::to_string(getpid()) + ".bin";
            writeFile(filePath, image(), imageSize);
        }
        return filePath;
    }

    static Bytes bytes;
    static size_t imageSize;
    static std::string filePath;
};

Bytes NetworkFiles::bytes;
size_t NetworkFiles::imageSize = 0;
std::string NetworkFiles::filePath;

constexpr size_t STACK_BYTES = 4 + 16 * 4 + 16 * 1536 + 32 * 4 + 32 * 32 + 4 + 32;

// ---- Plain images -----------------------------------------------------------

TEST_F(NetworkFiles, PlainFileFillsEveryField) {
    ASSERT_EQ(imageSize, PLAIN_IMAGE_FIXED_BYTES + std::strlen(NETWORK_DESCRIPTION));
    std::unique_ptr<Network> net = loadFromBytes(image(), imageSize);
    ASSERT_NE(net, nullptr);
    expectPatternWeights(*net);
}

TEST_F(NetworkFiles, PlainFileMustReachTheEndOfTheEighthStack) {
    struct Case {
        const char* what;
        size_t length;
        bool loads;
    };
    for (Case c : {Case{"extra bytes after the eighth stack", imageSize + 4096, true},
                   Case{"one byte short", imageSize - 1, false},
                   Case{"cut inside stack 3", imageSize - 4 * STACK_BYTES - STACK_BYTES / 2, false},
                   Case{"eighth stack missing", imageSize - STACK_BYTES, false},
                   Case{"cut inside the feature transformer", 5000, false}, Case{"header only", 26, false}}) {
        std::unique_ptr<Network> net = loadFromBytes(image(), c.length);
        EXPECT_EQ(net != nullptr, c.loads) << c.what;
        if (net) expectPatternWeights(*net);
    }
}

// Everything after the description is the valid image's; only the
// description (and its length field) differs.
TEST_F(NetworkFiles, DescriptionMustBeExactlyOurs) {
    for (std::string description :
         {"Sable network!", "sable network.", "Sable network", "Sable network. ", ""}) {
        Bytes variant(image(), image() + 8);
        appendU32(variant, uint32_t(description.size()));
        variant.insert(variant.end(), description.begin(), description.end());
        variant.insert(variant.end(), image() + 26, image() + imageSize);
        EXPECT_EQ(loadFromBytes(variant.data(), variant.size()), nullptr) << '"' << description << '"';
    }
}

// The first two words of a plain image are its version and hash; only when
// both are container marks is the file a container.
TEST_F(NetworkFiles, OneContainerMarkIsNotEnough) {
    struct Case {
        uint32_t first, second;
        bool loadsAsPlain;
    };
    Bytes original(image(), image() + 8);
    for (Case c : {Case{NETWORK_MAGIC_SET[5], 0x12345678, true}, Case{0x12345678, NETWORK_MAGIC_SET[5], true},
                   Case{NETWORK_MAGIC_SET[0], NETWORK_MAGIC_SET[31], false}}) {
        putU32(bytes, 0, c.first);
        putU32(bytes, 4, c.second);
        EXPECT_EQ(loadFromBytes(image(), imageSize) != nullptr, c.loadsAsPlain)
            << std::hex << c.first << " " << c.second;
    }
    std::copy(original.begin(), original.end(), bytes.begin());
}

// ---- Compressed blocks and containers ---------------------------------------

TEST_F(NetworkFiles, CompressedBlockLoads) {
    Bytes block = compressedBlock(image(), imageSize);
    std::unique_ptr<Network> net = loadFromMemory(block.data(), block.size());
    ASSERT_NE(net, nullptr);
    expectPatternWeights(*net);
    // The real built-in block, once the program carries one.
    if (EmbeddedNetworkBlockSize > 0) {
        EXPECT_NE(loadFromMemory(EmbeddedNetworkBlock, EmbeddedNetworkBlockSize), nullptr);
    }
}

TEST_F(NetworkFiles, CompressedBlockHeaderMustNotLie) {
    Bytes valid = compressedBlock(image(), imageSize);
    struct Case {
        const char* what;
        size_t size;  // of the block handed over
        size_t field;
        uint32_t value;
    };
    uint32_t compressedLength = uint32_t(valid.size() - 8);
    for (Case c :
         {Case{"empty block", 0, 0, 0}, Case{"header cut short", 7, 0, 0},
          Case{"compressed length past the end", valid.size(), 4, compressedLength + 1},
          Case{"compressed length 2^32 - 1", valid.size(), 4, 0xFFFFFFFF},
          Case{"image size 2^32 - 1", valid.size(), 0, 0xFFFFFFFF},
          Case{"image size 2 GB", valid.size(), 0, 0x80000000}, Case{"image size 0", valid.size(), 0, 0},
          // A stream cut short still inflates the header; the weights it never
          // reached must not be loaded as zeros.
          Case{"compressed stream cut short", valid.size() / 2, 4, compressedLength / 2 - 8},
          Case{"image one byte longer than the stream", valid.size(), 0, uint32_t(imageSize + 1)}}) {
        // An exact copy, so that reading past its end is caught by the sanitizers.
        Bytes block(valid.begin(), valid.begin() + long(c.size));
        if (c.size >= 8) putU32(block, c.field, c.value);
        EXPECT_EQ(loadFromMemory(block.data(), block.size()), nullptr) << c.what;
    }
    EXPECT_EQ(loadFromMemory(nullptr, 0), nullptr);
}

// The inner block is stored, not deflated, and its length leaves a 40-byte
// tail after the last whole key block: those bytes are the last weights of
// stack 7 (and the checksum), so they decode right only if the tail is left
// as it is. The second container deflates, pads its payload past the kept
// part and uses the same mark twice.
TEST_F(NetworkFiles, ScrambledContainersLoad) {
    struct Case {
        const char* what;
        bool stored;
        uint32_t magic1, magic2;
        size_t padding;
    };
    for (Case c : {Case{"stored, tail of 40", true, NETWORK_MAGIC_SET[0], NETWORK_MAGIC_SET[31], 0},
                   Case{"deflated, padded", false, NETWORK_MAGIC_SET[17], NETWORK_MAGIC_SET[17], 100}}) {
        Bytes block = c.stored ? storedBlock(image(), imageSize, 40) : compressedBlock(image(), imageSize);
        Bytes container = buildContainer(block, c.magic1, c.magic2, c.padding);
        if (c.stored) {
            ASSERT_EQ((container.size() - 16) % 41, 40u);
        }
        Bytes().swap(block);
        std::unique_ptr<Network> net = loadFromBytes(container.data(), container.size());
        ASSERT_NE(net, nullptr) << c.what;
        expectPatternWeights(*net);
    }
}

TEST_F(NetworkFiles, ContainerHeaderMustNotLie) {
    // The payload is the kept block; the file goes on for 100 bytes after it,
    // so a kept length past the payload still finds bytes to read.
    Bytes block = compressedBlock(image(), imageSize);
    const uint32_t kept = uint32_t(block.size()), payload = kept;
    Bytes valid = buildContainer(block, NETWORK_MAGIC_SET[9], NETWORK_MAGIC_SET[2], 0);
    valid.insert(valid.end(), 100, 0x3C);
    ASSERT_NE(loadFromBytes(valid.data(), valid.size()), nullptr);

    // Offsets of the outer header's fields, and of the inner block's (which
    // sit in the scrambled payload).
    constexpr size_t KEPT = 8, PAYLOAD = 12, INNER_SIZE = 16, INNER_LENGTH = 20;
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
    };
    for (Case c :
         {Case{"payload past the end", PAYLOAD, payload + 101}, Case{"payload 2^32 - 1", PAYLOAD, 0xFFFFFFFF},
          Case{"kept past the payload", KEPT, payload + 1}, Case{"kept 2^32 - 1", KEPT, 0xFFFFFFFF},
          Case{"kept too short for the inner header", KEPT, 7},
          Case{"inner compressed length past the kept part", INNER_LENGTH, kept - 8 + 1},
          Case{"inner compressed length 2^32 - 1", INNER_LENGTH, 0xFFFFFFFF},
          Case{"inner image size 2^32 - 1", INNER_SIZE, 0xFFFFFFFF},
          Case{"inner image size 1 GB", INNER_SIZE, 0x40000000}}) {
        Bytes file = valid;
        for (int i = 0; i < 4; i++) {
            uint8_t byte = uint8_t(c.value >> (8 * i));
            size_t at = c.field + size_t(i);
            if (at >= 16) byte ^= uint8_t(NETWORK_SCRAMBLE_KEY[(at - 16) % 41]);
            file[at] = byte;
        }
        EXPECT_EQ(loadFromBytes(file.data(), file.size()), nullptr) << c.what;
    }
}

// ---- The manager ------------------------------------------------------------

// Runs loadNetwork and returns what it printed on standard output and error.
std::pair<std::string, std::string> loadAndCapture(const std::string& name) {
    weightsFile = name;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    loadNetwork();
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {out, err};
}

using Printed = std::pair<std::string, std::string>;

TEST_F(NetworkFiles, ManagerMessagesAndWhatSurvivesAFailure) {
    const std::string plain = plainFile();
    const std::string missing = ::testing::TempDir() + "sable_no_such_network.bin";
    const std::string wrong =
        ::testing::TempDir() + "sable_wrong_network_" + std::to_string(getpid()) + ".bin";
    writeFile(wrong, image(), 5000);

    EXPECT_EQ(loadAndCapture(plain), Printed("info string " + plain + " is loaded\n", ""));
    const Network* loaded = currentNetwork();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->stacks[7].l3Bias, float(l3Bias(7)));

    // A missing file keeps the network; the same name again is not retried.
    EXPECT_EQ(loadAndCapture(missing),
              Printed("", "info string error: : file \"" + missing + "\" not found\n"));
    EXPECT_EQ(currentNetwork(), loaded);
    EXPECT_EQ(loadAndCapture(missing), Printed("", ""));
    EXPECT_EQ(currentNetwork(), loaded);

    // A file in the wrong format leaves none, so the same name is tried again.
    const Printed wrongFormat("", "info string error: " + wrong + " has wrong format\n");
    EXPECT_EQ(loadAndCapture(wrong), wrongFormat);
    EXPECT_EQ(currentNetwork(), nullptr);
    EXPECT_EQ(loadAndCapture(wrong), wrongFormat);

    EXPECT_EQ(loadAndCapture(plain), Printed("info string " + plain + " is loaded\n", ""));
    EXPECT_NE(currentNetwork(), nullptr);
    EXPECT_EQ(loadAndCapture(plain), Printed("", ""));

    // The built-in network, or the message that the program has none.
    if (EmbeddedNetworkBlockSize > 0) {
        EXPECT_EQ(loadAndCapture(""), Printed("info string embedded NN is loaded\n", ""));
        EXPECT_NE(currentNetwork(), nullptr);
    } else {
        EXPECT_EQ(loadAndCapture(""),
                  Printed("",
                          "info string error: failed to load embedded NN, use WeightsFile option to set an "
                          "external one\n"));
        EXPECT_EQ(currentNetwork(), nullptr);
    }

    releaseNetwork();
    EXPECT_EQ(currentNetwork(), nullptr);
    weightsFile.clear();
    std::remove(wrong.c_str());
}

TEST_F(NetworkFiles, WeightsFileOptionThroughTheEngine) {
    const std::string plain = plainFile();
    const std::string missing = ::testing::TempDir() + "sable_no_such_network.bin";
    const std::string wrong =
        ::testing::TempDir() + "sable_wrong_network_" + std::to_string(getpid()) + ".bin";
    writeFile(wrong, image(), 5000);

    EngineProcess engine;
    ASSERT_TRUE(engine.start());
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok"));
    const std::string embeddedLoaded = "info string embedded NN is loaded";
    const std::string embeddedFailed =
        "info string error: failed to load embedded NN, use WeightsFile option to set an external one\n";
    const std::vector<std::string>& lines = engine.linesRead();
    bool loadedLine = std::find(lines.begin(), lines.end(), embeddedLoaded) != lines.end();
    bool failedLine = engine.errorText().find(embeddedFailed) != std::string::npos;
    EXPECT_EQ(loadedLine, EmbeddedNetworkBlockSize > 0);
    EXPECT_EQ(failedLine, EmbeddedNetworkBlockSize == 0);

    engine.send("setoption name WeightsFile value " + plain);
    EXPECT_TRUE(engine.waitForLine("info string " + plain + " is loaded", 30000));

    engine.send("setoption name WeightsFile value " + missing);
    engine.send("setoption name WeightsFile value " + wrong);
    engine.send("isready");
    ASSERT_TRUE(engine.waitForLine("readyok"));
    std::string errors = engine.errorText();
    size_t notFound = errors.find("info string error: : file \"" + missing + "\" not found\n");
    size_t wrongFormat = errors.find("info string error: " + wrong + " has wrong format\n");
    EXPECT_NE(notFound, std::string::npos) << errors;
    EXPECT_NE(wrongFormat, std::string::npos) << errors;
    EXPECT_LT(notFound, wrongFormat);

    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(), 0);
    std::remove(wrong.c_str());
}

}  // namespace
