// The hash file: the table's memory image saved and loaded, its failure
// messages, and the generation reset that makes loaded entries current. The
// last group drives the real engine over pipes.
#include "tt/hash_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../uci/engine_process.h"
#include "tt/transposition_table.h"

namespace {

// A file name of this test process alone: ctest runs tests in parallel.
std::string tempPath(const std::string& name) {
    return testing::TempDir() + "sable_" + std::to_string(getpid()) + "_" + name;
}

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<char> imageOf(const TranspositionTable& table) {
    const char* bytes = reinterpret_cast<const char*>(table.clusters);
    return std::vector<char>(bytes, bytes + table.sizeInBytes());
}

// Runs a save or load and returns what it printed.
template <typename Action>
std::string printed(Action action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// A 1 MB table filled with random results of generation 5, some of them busy.
class HashFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        table.resize(1);
        table.generation = 5;
        std::mt19937_64 random(2024);
        for (int i = 0; i < 40000; i++) {
            Key key = random();
            auto value = int16_t(random());
            switch (i % 4) {
                case 0:
                    table.storeExact(key, int(random() % 60), value, Move(random()), value, 1);
                    break;
                case 1:
                    table.storeLowerBound(key, int(random() % 60), value, Move(random()), value, 0);
                    break;
                case 2:
                    table.storeUpperBound(key, int(random() % 60), value, EVAL_NONE, 0);
                    break;
                case 3:
                    table.storeEval(key, value, 0);
                    break;
            }
            if (i % 7 == 0) table.setBusy(key, 1);
        }
    }
    void TearDown() override {
        table.release();
        std::remove(path.c_str());
    }

    TranspositionTable table;
    std::string path = tempPath("hash_file_test.hash");
};

TEST_F(HashFileTest, SaveClearLoadRestoresEveryEntry) {
    const std::vector<char> before = imageOf(table);
    EXPECT_EQ(printed([&] { writeHashFile(table, path); }),
              "info string Saving Hash\ninfo string Hash Saved\n");
    EXPECT_EQ(fileBytes(path), before);  // the file is the memory image, nothing more

    table.clear();
    ASSERT_NE(imageOf(table), before);
    EXPECT_EQ(printed([&] { readHashFile(table, path); }),
              "info string Loading Hash from " + path + "\ninfo string Hash Loaded\n");

    // Byte for byte the saved entries, except that every generation is now 0.
    std::vector<char> expected = before;
    for (size_t offset = offsetof(TTEntry, generation); offset < expected.size(); offset += sizeof(TTEntry)) {
        expected[offset] = 0;
        expected[offset + 1] = 0;
    }
    EXPECT_EQ(imageOf(table), expected);
    EXPECT_EQ(table.generation, 0);
    EXPECT_EQ(table.hashLoaded, 1);
}

// The next search, of whatever position, finds the loaded entries current.
TEST_F(HashFileTest, LoadedEntriesCountAsCurrentInTheNextSearch) {
    int occupied = 0;
    for (int c = 0; c < 250; c++)
        for (const TTEntry& e : table.clusters[c].entries) occupied += e.key32 != 0;
    table.advanceGeneration(0x1234);  // the search that filled the table ended
    writeHashFile(table, path);
    table.clear();
    printed([&] { readHashFile(table, path); });

    table.adoptLoadedEntries(0xFEEDBEEF);  // "go" on some position...
    table.advanceGeneration(0xFEEDBEEF);   // ...whose search then starts
    EXPECT_EQ(table.generation, 0);
    EXPECT_EQ(table.hashfull(), occupied);
    EXPECT_EQ(table.hashLoaded, 0);
}

TEST_F(HashFileTest, FileOfAnotherSizeLeavesTheTableButResetsGenerations) {
    TranspositionTable big;
    big.resize(16);
    EXPECT_EQ(printed([&] { writeHashFile(big, path); }),
              "info string Saving Hash\ninfo string Hash Saved\n");
    big.release();
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 16777216);

    std::vector<char> expected = imageOf(table);
    for (size_t offset = offsetof(TTEntry, generation); offset < expected.size(); offset += sizeof(TTEntry))
        expected[offset] = expected[offset + 1] = 0;
    EXPECT_EQ(printed([&] { readHashFile(table, path); }),
              "info string Loading Hash from " + path + "\ninfo string File size does not match Hash size\n");
    EXPECT_EQ(imageOf(table), expected);
    EXPECT_EQ(table.hashLoaded, 1);
}

TEST_F(HashFileTest, MissingFileIsReportedAndStillResetsGenerations) {
    for (const std::string& name : {tempPath("no_such.hash"), std::string()}) {
        table.generation = 5;
        table.hashLoaded = 0;
        EXPECT_EQ(printed([&] { readHashFile(table, name); }), "info string no such file " + name + "\n");
        EXPECT_EQ(table.generation, 0);
        EXPECT_EQ(table.hashLoaded, 1);
        for (int c = 0; c < 100; c++)
            for (const TTEntry& e : table.clusters[c].entries) ASSERT_EQ(e.generation, 0);
    }
}

TEST_F(HashFileTest, SaveFailuresAreReported) {
    const std::string unopenable = tempPath("no_such_dir/x.hash");
    EXPECT_EQ(printed([&] { writeHashFile(table, unopenable); }),
              "info string failed to open " + unopenable + "\n");

    struct stat info {};
    if (stat("/dev/full", &info) != 0) GTEST_SKIP() << "no /dev/full to fill";
    EXPECT_EQ(printed([&] { writeHashFile(table, "/dev/full"); }),
              "info string Saving Hash\ninfo string error writing file /dev/full\n");
}

// A file whose length promises more than a read delivers: a sysfs attribute
// claims a page but holds a few bytes. The bytes read stay in the table.
TEST(HashFileShortRead, KeepsWhatWasReadAndReportsIt) {
    const char* source = "/sys/devices/system/cpu/online";
    struct stat info {};
    if (stat(source, &info) != 0 || info.st_size != 4096) GTEST_SKIP() << "no sysfs file of one page";
    std::ifstream in(source);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(content.empty());

    // A table of exactly one page, built by hand on a local cluster array.
    static TTCluster pageOfClusters[64];
    std::memset(static_cast<void*>(pageOfClusters), 0xEE, sizeof pageOfClusters);
    TranspositionTable table;
    table.clusters = pageOfClusters;
    table.clusterCount = 64;
    table.indexMask = 63;
    EXPECT_EQ(printed([&] { readHashFile(table, source); }),
              std::string("info string Loading Hash from ") + source +
                  "\ninfo string Error: could not read full file.\n");
    EXPECT_EQ(std::memcmp(pageOfClusters, content.data(), 2), 0);
    EXPECT_EQ(table.hashLoaded, 1);
}

// ---------------------------------------------------------------------------
// Through the engine: the option names, the messages and the file itself.

class HashFileProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.start());
        ASSERT_TRUE(engine.waitForLine("info string embedded NN is loaded"));
    }
    void TearDown() override {
        for (const std::string& f : files) std::remove(f.c_str());
    }

    // Sends the lines, then "isready"; returns what was printed before "readyok".
    std::vector<std::string> exchange(const std::vector<std::string>& commands) {
        for (const std::string& c : commands) engine.send(c);
        size_t before = engine.linesRead().size();
        engine.send("isready");
        EXPECT_TRUE(engine.waitForLine("readyok"));
        const std::vector<std::string>& all = engine.linesRead();
        return std::vector<std::string>(all.begin() + long(before), all.end() - 1);
    }

    std::string file(const std::string& name) {
        files.push_back(tempPath(name));
        return files.back();
    }

    EngineProcess engine;
    std::vector<std::string> files;
};

TEST_F(HashFileProtocol, SaveClearLoad) {
    const std::string path = file("protocol.hash");
    using Lines = std::vector<std::string>;
    EXPECT_EQ(exchange({"setoption name Hash value 1", "setoption name Hash File Name value " + path,
                        "setoption name Save Hash to File"}),
              (Lines{"info string Hash table size is now 1 meg", "info string Saving Hash",
                     "info string Hash Saved"}));
    EXPECT_EQ(fileBytes(path).size(), 1048576u);

    EXPECT_EQ(exchange({"setoption name Clear Hash", "setoption name Load Hash from File"}),
              (Lines{"info string Clearing Hash", "info string Loading Hash from " + path,
                     "info string Hash Loaded"}));
    engine.send("go depth 1");  // the first search after a load adopts its entries
    EXPECT_TRUE(engine.waitForPrefix("bestmove "));

    EXPECT_EQ(exchange({"setoption name Hash value 2", "setoption name Load Hash from File"}),
              (Lines{"info string Hash table size is now 2 meg", "info string Loading Hash from " + path,
                     "info string File size does not match Hash size"}));
}

TEST_F(HashFileProtocol, MissingFilesAndUnwritablePaths) {
    using Lines = std::vector<std::string>;
    // No name set: the empty name is reported.
    EXPECT_EQ(exchange({"setoption name Load Hash from File"}), Lines{"info string no such file "});
    const std::string missing = file("missing.hash");
    EXPECT_EQ(
        exchange({"setoption name Hash File Name value " + missing, "setoption name Load Hash from File"}),
        Lines{"info string no such file " + missing});
    const std::string unwritable = tempPath("no_such_dir/x.hash");
    EXPECT_EQ(
        exchange({"setoption name Hash File Name value " + unwritable, "setoption name Save Hash to File"}),
        Lines{"info string failed to open " + unwritable});
    EXPECT_EQ(exchange({"setoption name Hash value 0", "setoption name Hash value 1"}),
              Lines{"info string Hash table size is now 1 meg"});
    engine.send("quit");
    EXPECT_EQ(engine.waitForExit(), 0);
}

}  // namespace
