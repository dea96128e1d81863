// The progress lines of the search: how scores and principal variations are
// written, the shape of the "info depth" line and its copy in the log file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>

#include "../board/board_test_util.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "core/output.h"
#include "platform/clock.h"
#include "search/search_output.h"

namespace {

class SearchOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        initBoardTables();
        useRegularEval = 0;
        chess960 = 0;
        rootTbScore = NO_ROOT_TB_SCORE;
    }
    void TearDown() override {
        useRegularEval = 0;
        chess960 = 0;
        rootTbScore = NO_ROOT_TB_SCORE;
    }
};

TEST_F(SearchOutput, ScoreTexts) {
    struct Case {
        Score score;
        PvBound bound;
        int32_t tablebaseScore;
        bool regularEval;
        const char* text;
    };
    const Case cases[] = {
        {31999, PV_EXACT, NO_ROOT_TB_SCORE, false, "mate 1"},
        {31997, PV_EXACT, NO_ROOT_TB_SCORE, false, "mate 2"},
        {31800, PV_EXACT, NO_ROOT_TB_SCORE, false, "mate 101"},
        {-31998, PV_EXACT, NO_ROOT_TB_SCORE, false, "mate -1"},
        {-31996, PV_EXACT, NO_ROOT_TB_SCORE, false, "mate -2"},
        {100, PV_EXACT, NO_ROOT_TB_SCORE, false, "cp 60"},  // network scores show at 60 %
        {-101, PV_EXACT, NO_ROOT_TB_SCORE, false, "cp -60"},
        {100, PV_EXACT, NO_ROOT_TB_SCORE, true, "cp 100"},
        {30000, PV_EXACT, NO_ROOT_TB_SCORE, false, "cp 25000"},  // clamped, then not scaled
        {-31799, PV_EXACT, NO_ROOT_TB_SCORE, false, "cp -25000"},
        {24999, PV_EXACT, NO_ROOT_TB_SCORE, false, "cp 14999"},
        {100, PV_LOWER_BOUND, NO_ROOT_TB_SCORE, false, "cp 60 lowerbound"},
        {100, PV_UPPER_BOUND, NO_ROOT_TB_SCORE, false, "cp 60 upperbound"},
        {31999, PV_LOWER_BOUND, NO_ROOT_TB_SCORE, false, "mate 1 lowerbound"},
        // A tablebase root shows its own score and no bound.
        {50, PV_UPPER_BOUND, 31799, false, "mate 1000"},
        {-12, PV_EXACT, -31790, false, "mate -1000"},
        {300, PV_LOWER_BOUND, 0, false, "cp 0"},
        {300, PV_EXACT, 31699, false, "cp 25000"},
        {31997, PV_EXACT, 31799, false, "mate 2"},  // a real mate still shows as one
    };
    for (const Case& c : cases) {
        rootTbScore = c.tablebaseScore;
        useRegularEval = c.regularEval;
        char text[SCORE_TEXT_SIZE];
        formatScore(c.score, text, c.bound);
        EXPECT_STREQ(text, c.text) << "score " << c.score;
    }
}

TEST_F(SearchOutput, PvTextWritesCastlingPromotionsAndAtMost64Moves) {
    Move pv[80] = {encodeMove(E1, H1, CASTLING), encodeMove(E7, E8, PROMO_KNIGHT),
                   encodeMove(B2, B1, PROMO_QUEEN), MOVE_NONE};
    char text[PV_TEXT_SIZE];
    formatPv(pv, text);
    EXPECT_STREQ(text, "e1g1 e7e8n b2b1q");
    chess960 = 1;
    formatPv(pv, text);
    EXPECT_STREQ(text, "e1h1 e7e8n b2b1q");

    for (int i = 0; i < 79; i++) pv[i] = encodeMove(A2, A3);
    pv[79] = MOVE_NONE;
    formatPv(pv, text);
    EXPECT_EQ(std::string(text).size(), size_t(64 * 5 - 1));
}

// The pv line: the fields in order, the time at least one millisecond,
// "hashfull" only from depth 18, nothing at depth 0; the log gets a short
// copy whose pv loses its last (cut) move.
TEST_F(SearchOutput, PvLineAndItsLogCopy) {
    std::string logPath = ::testing::TempDir() + "sable_pv_line_" + std::to_string(getpid()) + ".log";
    std::remove(logPath.c_str());
    const Move pv[] = {encodeMove(E2, E4), encodeMove(E7, E5), encodeMove(G1, F3), encodeMove(B8, C6),
                       encodeMove(F1, B5), encodeMove(A7, A6), encodeMove(B5, A4), MOVE_NONE};
    searchStartTime = elapsedSeconds();

    setLogFile(logPath);
    ::testing::internal::CaptureStdout();
    printPvLine(3, 100, pv, PV_EXACT);
    printPvLine(18, -200, pv + 6, PV_UPPER_BOUND);
    printPvLine(0, 100, pv, PV_EXACT);
    std::string out = ::testing::internal::GetCapturedStdout();
    setLogFile("");

    std::regex expected(
        "info depth 3 time [1-9][0-9]* nodes [0-9]+ score cp 60 nps [0-9]+ tbhits 0 "
        "pv e2e4 e7e5 g1f3 b8c6 f1b5 a7a6 b5a4\n"
        "info depth 18 time [1-9][0-9]* nodes [0-9]+ score cp -120 upperbound nps [0-9]+ hashfull [0-9]+ "
        "tbhits 0 pv b5a4\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;

    std::ifstream log(logPath);
    std::string all((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    std::remove(logPath.c_str());
    EXPECT_NE(all.find("info:   3     0.00       60 --  e2e4 e7e5 g1f3 b8c6 f1b5 a7a6\n"), std::string::npos)
        << all;
    EXPECT_NE(all.find("info:  18     0.00     -120 FL  b5a4\n"), std::string::npos) << all;
}

}  // namespace
