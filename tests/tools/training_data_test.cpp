// Training data: the score targets undo the engine's score pipeline, loading
// filters and splits whole games, and a record becomes the model input of its
// board with the score/result mix.
#include "training/training_data.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "eval/evaluate.h"

namespace {

namespace fs = std::filesystem;

// The engine's scaling of the raw output before the damping (NNUE_Scale 72).
int32_t scaled(int32_t n, int pawns) {
    return int32_t(int64_t(n) * 72 * (1024 + 20 * pawns) / 102400);
}

TEST(TrainingData, ScoreInversionUndoesTheEvaluationScaling) {
    const int outputs[] = {-2500, -450, -137, -60, -1, 0, 25, 90, 141, 800, 2000};
    const int pawnCounts[] = {0, 8, 16};
    const int phases[] = {0, 24, 61, 96};
    for (int n : outputs)
        for (int pawns : pawnCounts)
            for (int phase : phases) {
                const int score = dampByPhase(scaled(n, pawns), phase) + 2;
                // The truncations lose under one score unit each, at most 2.8 units of n.
                EXPECT_NEAR(scoreToNetworkUnits(score, phase, pawns, 72), n, 3.0)
                    << "n " << n << " pawns " << pawns << " phase " << phase;
            }
}

TEST(TrainingData, RecordInputIsTheBoardWithTheScoreAndResultMix) {
    const Position pos = fromFen("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 2 2");
    TrainingRecord record = packRecord(pos, 2, RESULT_WIN, false, 1);
    Piece board[64];
    for (int s = 0; s < 64; s++) board[s] = pos.board[s];
    ModelInput expected{};
    ASSERT_TRUE(boardInput(board, BLACK, expected));

    struct Case {
        float lambda, target;
    };
    // A score of 2 is the tempo alone: n = 0, an even chance.
    const Case cases[] = {{1.0f, 0.5f}, {0.0f, 1.0f}, {0.75f, 0.625f}};
    for (const Case& c : cases) {
        ModelInput input{};
        ASSERT_TRUE(recordInput(record, TargetSettings{c.lambda, 72}, input));
        EXPECT_FLOAT_EQ(input.target, c.target) << c.lambda;
        EXPECT_EQ(input.result, 1.0f);
        EXPECT_EQ(input.bucket, expected.bucket);
        for (int view = 0; view < 2; view++) {
            ASSERT_EQ(input.count[view], expected.count[view]);
            for (int k = 0; k < expected.count[view]; k++)
                EXPECT_EQ(input.features[view][k], expected.features[view][k]);
        }
    }
    record.occupancy = 0;  // no kings
    ModelInput input{};
    EXPECT_FALSE(recordInput(record, TargetSettings{}, input));
}

class TrainingDataFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("sable_training_data_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // GAMES games of PLIES records, the game number in the generation byte:
    // plies 0-7 are early, ply 12 is in check, 13 has a noisy best move, 14
    // a large score; game 0's ply 15 is not a possible board. Half the games
    // go to each of two files; the first ends in a partial record.
    void writeGames() {
        const Position pos = fromFen(START_FEN);
        for (int file = 0; file < 2; file++) {
            std::ofstream out(dir / ("part" + std::to_string(file) + ".bin"), std::ios::binary);
            for (int game = file * GAMES / 2; game < (file + 1) * GAMES / 2; game++)
                for (int ply = 0; ply < PLIES; ply++) {
                    TrainingRecord r = packRecord(pos, 30, RESULT_DRAW, ply == 13, game);
                    r.ply = uint16_t(ply);
                    if (ply == 12) r.flags |= RECORD_IN_CHECK;
                    if (ply == 14) r.score = -3500;
                    if (game == 0 && ply == 15) r.occupancy = 0;
                    out.write(reinterpret_cast<const char*>(&r), sizeof r);
                }
            if (file == 0) out.write("partial record", 14);
        }
        std::ofstream(dir / "notes.txt") << "not data";
    }

    static constexpr int GAMES = 40, PLIES = 20;
    fs::path dir;
};

TEST_F(TrainingDataFiles, LoadingFiltersAndSplitsWholeGames) {
    writeGames();
    std::vector<std::string> files;
    std::string error;
    ASSERT_TRUE(listDataFiles({dir.string()}, files, error)) << error;
    ASSERT_EQ(files.size(), 2u);

    DataSettings settings;
    settings.validationShare = 0.5;
    TrainingSet set;
    ASSERT_TRUE(loadTrainingData(files, settings, set, error)) << error;
    const LoadReport& r = set.report;
    EXPECT_EQ(r.records, uint64_t(GAMES * PLIES));
    EXPECT_EQ(r.games, uint64_t(GAMES));
    EXPECT_EQ(r.invalid, 1u);
    EXPECT_EQ(r.inCheck, uint64_t(GAMES));
    EXPECT_EQ(r.noisy, uint64_t(GAMES));
    EXPECT_EQ(r.largeScore, uint64_t(GAMES));
    EXPECT_EQ(r.early, uint64_t(GAMES * 8));
    EXPECT_EQ(set.training.size() + set.validation.size(), size_t(GAMES * (PLIES - 11) - 1));

    std::set<int> trainingGames, validationGames;
    for (const TrainingRecord& rec : set.training) trainingGames.insert(rec.generation);
    for (const TrainingRecord& rec : set.validation) validationGames.insert(rec.generation);
    EXPECT_EQ(validationGames.size(), r.validationGames);
    EXPECT_FALSE(trainingGames.empty());
    EXPECT_FALSE(validationGames.empty());
    for (int game : validationGames) EXPECT_EQ(trainingGames.count(game), 0u) << game;

    // Skipping every training position leaves the validation games as they were.
    settings.filter.randomSkip = 1.0;
    TrainingSet skipped;
    ASSERT_TRUE(loadTrainingData(files, settings, skipped, error)) << error;
    EXPECT_TRUE(skipped.training.empty());
    EXPECT_EQ(skipped.validation.size(), set.validation.size());

    files.clear();
    EXPECT_FALSE(listDataFiles({(dir / "missing").string()}, files, error));
}

}  // namespace
