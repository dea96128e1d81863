// The data generator through its binary: whole games of valid records, results
// that agree with the side to move, and a restart that repairs a cut file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "training/training_record.h"

namespace {

namespace fs = std::filesystem;

std::vector<TrainingRecord> readRecords(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<TrainingRecord> records;
    TrainingRecord r;
    while (in.read(reinterpret_cast<char*>(&r), sizeof r)) records.push_back(r);
    return records;
}

// Runs the generator for `games` games per worker into dir; true on status 0.
bool runDatagen(const fs::path& dir, int workers, int games) {
    std::string command = std::string(SABLE_DATAGEN) + " --out " + dir.string() + " --workers " +
                          std::to_string(workers) + " --games " + std::to_string(games) +
                          " --nodes 400 --hard 1500 --chess960 50 --openings /nonexistent --generation 3" +
                          " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class DatagenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("sable_datagen_" + std::to_string(getpid()));
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(DatagenTest, WorkersWriteWholeGamesWithConsistentResults) {
    ASSERT_TRUE(runDatagen(dir, 2, 2));
    for (const char* name : {"gen3_w0.bin", "gen3_w1.bin"}) {
        fs::path file = dir / name;
        ASSERT_TRUE(fs::exists(file)) << name;
        ASSERT_EQ(fs::file_size(file) % TRAINING_RECORD_BYTES, 0u);
        std::vector<TrainingRecord> records = readRecords(file);
        ASSERT_FALSE(records.empty());
        int games = 0;
        int whiteResult = 0;  // of the current game, from White's view: -1, 0, 1
        for (size_t i = 0; i < records.size(); i++) {
            const TrainingRecord& r = records[i];
            Piece board[64];
            ASSERT_TRUE(unpackBoard(r, board)) << i;
            EXPECT_LT(std::abs(r.score), 25000);
            EXPECT_EQ(r.generation, 3);
            ASSERT_LE(r.result, 2);
            int fromWhite = r.sideToMove() == WHITE ? r.result - 1 : 1 - r.result;
            if (i == 0 || r.ply <= records[i - 1].ply) {
                games++;
                whiteResult = fromWhite;
            } else {
                // Positions scored as mates are left out, so a game's plies
                // may jump; a new game starts at a ply no later than the last.
                EXPECT_EQ(fromWhite, whiteResult) << "one game, one result";
            }
        }
        EXPECT_EQ(games, 2) << name;
    }
}

TEST_F(DatagenTest, RestartAppendsAfterCuttingAPartialRecord) {
    ASSERT_TRUE(runDatagen(dir, 1, 1));
    fs::path file = dir / "gen3_w0.bin";
    uintmax_t before = fs::file_size(file);
    {
        std::ofstream cut(file, std::ios::binary | std::ios::app);
        cut.write("partial", 7);
    }
    ASSERT_TRUE(runDatagen(dir, 1, 1));
    uintmax_t after = fs::file_size(file);
    EXPECT_EQ(after % TRAINING_RECORD_BYTES, 0u);
    EXPECT_GT(after, before);
    std::vector<TrainingRecord> records = readRecords(file);
    Piece board[64];
    EXPECT_TRUE(unpackBoard(records[before / TRAINING_RECORD_BYTES], board))
        << "the new game starts after the old";
}

TEST_F(DatagenTest, BadArgumentsAreRefused) {
    for (const char* args : {"", " --out", " --out /tmp/x --workers 0", " --out /tmp/x --nodes 100 --hard 50",
                             " --out /tmp/x --frobnicate 1"}) {
        std::string command = std::string(SABLE_DATAGEN) + args + " > /dev/null 2>&1";
        EXPECT_NE(std::system(command.c_str()), 0) << args;
    }
}

}  // namespace
