// Contempt at search start (the option, the opponent's name, Armageddon,
// "White Contempt", the Monte-Carlo reduction), its change after each
// iteration, and the Armageddon draw scores.
#include <gtest/gtest.h>

#include <string>

#include "control/contempt.h"
#include "core/options.h"
#include "eval/evaluate.h"
#include "search/search_session.h"
#include "search/search_state.h"

namespace {

class Contempt : public ::testing::Test {
  protected:
    void SetUp() override { resetOptions(); }
    void TearDown() override {
        resetOptions();
        applyArmageddon();
    }
    static void resetOptions() {
        contempt = 20;
        whiteContempt = 0;
        useMCTS = 0;
        uciOpponent.clear();
        armageddon = "Off";
    }
    // The contempt stored for `side` must be c, for the other colour -c, in
    // the plain form and in the pair form (10c and 10c/4).
    static void expectStored(Color side, int32_t c) {
        EXPECT_EQ(contemptByColor[side], c);
        EXPECT_EQ(contemptByColor[~side], -c);
        EXPECT_EQ(pairHigh(contemptPairByColor[side]), 10 * c);
        EXPECT_EQ(pairLow(contemptPairByColor[side]), (10 * c) / 4);
        EXPECT_EQ(pairHigh(contemptPairByColor[~side]), -(10 * c));
        EXPECT_EQ(pairLow(contemptPairByColor[~side]), -((10 * c) / 4));
    }
};

struct StartCase {
    int32_t contempt;
    const char* opponent;
    const char* armageddon;
    Color side;
    bool mcts, whiteContempt;
    int32_t expected;  // the base contempt
    Color favoured;    // the colour that receives it
};

// "Stockfish" in a name of nine or more characters and "Lc0" in one of three
// or more switch the contempt off; Armageddon adds 36 for the side that must
// win; the Monte-Carlo search takes 16 off a positive contempt (never below
// 0); "White Contempt" gives the contempt to White whoever moves.
const StartCase StartCases[] = {
    {20, "", "Off", WHITE, false, false, 20, WHITE},
    {20, "", "Off", BLACK, false, false, 20, BLACK},
    {-30, "Some Human", "Off", WHITE, false, false, -30, WHITE},
    {20, "Stockfish 16", "Off", WHITE, false, false, 0, WHITE},
    {20, "Stockfish", "Off", BLACK, false, false, 0, BLACK},
    {20, "Lc0", "Off", WHITE, false, false, 0, WHITE},
    {20, "Lc", "Off", WHITE, false, false, 20, WHITE},
    {20, "stockfish 16", "Off", WHITE, false, false, 20, WHITE},
    {20, "", "White Must Win", WHITE, false, false, 56, WHITE},
    {20, "", "White Must Win", BLACK, false, false, -16, BLACK},
    {20, "", "Black Must Win", BLACK, false, false, 56, BLACK},
    {20, "Stockfish 16", "Black Must Win", WHITE, false, false, -36, WHITE},
    {20, "", "Off", WHITE, true, false, 4, WHITE},
    {10, "", "Off", WHITE, true, false, 0, WHITE},
    {-10, "", "Off", WHITE, true, false, -10, WHITE},
    {20, "", "Off", BLACK, false, true, 20, WHITE},
};

TEST_F(Contempt, AtSearchStart) {
    for (const StartCase& c : StartCases) {
        contempt = c.contempt;
        uciOpponent = c.opponent;
        armageddon = c.armageddon;
        useMCTS = c.mcts;
        whiteContempt = c.whiteContempt;
        setSearchContempt(c.side, applyArmageddon());
        SCOPED_TRACE(std::string(c.opponent) + " / " + c.armageddon + " / " + std::to_string(c.contempt));
        EXPECT_EQ(baseContempt, c.expected);
        expectStored(c.favoured, c.expected);
    }
}

// "White Must Win" makes a draw a loss of 2000 for White and a win for
// Black; "Black Must Win" the other way round; "Off" scores draws 0.
TEST_F(Contempt, ArmageddonDrawScores) {
    struct Case {
        const char* value;
        int32_t white, black, offset;
    };
    for (Case c : {Case{"White Must Win", -2000, 2000, 36}, Case{"Black Must Win", 2000, -2000, -36},
                   Case{"Off", 0, 0, 0}}) {
        armageddon = c.value;
        EXPECT_EQ(applyArmageddon(), c.offset) << c.value;
        EXPECT_EQ(drawScoreByColor[WHITE], c.white) << c.value;
        EXPECT_EQ(drawScoreByColor[BLACK], c.black) << c.value;
    }
}

// After each iteration: base + 32s / (|s| + 100) with s the score clamped to
// -50..50, so at most 10 either way, and the base itself is kept.
TEST_F(Contempt, FollowsTheIterationScore) {
    struct Case {
        int32_t score, expected;
    };
    setSearchContempt(BLACK, 0);
    for (Case c : {Case{0, 20}, Case{10, 22}, Case{50, 30}, Case{1000, 30}, Case{-10, 18}, Case{-50, 10},
                   Case{-31000, 10}}) {
        adjustContempt(c.score, BLACK);
        expectStored(BLACK, c.expected);
        EXPECT_EQ(baseContempt, 20);
    }
}

}  // namespace
