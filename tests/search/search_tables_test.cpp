// The search tables: their values with the default options, the thread and
// Monte-Carlo adjustments, and rebuilding after "Reduction" or "Selectivity"
// changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/options.h"
#include "search/search_tables.h"
#include "uci/command_loop.h"
#include "uci/option_table.h"

namespace {

// Every test starts from the default options and leaves the tables as the
// program builds them at start-up.
class SearchTablesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        buildOptionTable();
        initSearchTables();
    }
    void TearDown() override {
        buildOptionTable();
        initSearchTables();
    }
};

struct ReductionCopy {
    int32_t plain[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
    int32_t floor[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
};

ReductionCopy copyReductions() {
    ReductionCopy copy;
    std::memcpy(copy.plain, reductionTable, sizeof(copy.plain));
    std::memcpy(copy.floor, reductionTableFloor, sizeof(copy.floor));
    return copy;
}

bool sameReductions(const ReductionCopy& a, const ReductionCopy& b) {
    return std::memcmp(&a, &b, sizeof(ReductionCopy)) == 0;
}

std::vector<int32_t> lateMoveRow(int improving) {
    return std::vector<int32_t>(lateMoveCount[improving], lateMoveCount[improving] + LATE_MOVE_DEPTHS);
}

TEST_F(SearchTablesTest, ReductionsWithDefaultOptions) {
    for (int i = 0; i < 2; i++)
        for (int m = 0; m < REDUCTION_MOVES; m++) {
            EXPECT_EQ(reductionTable[i][2][m], 0) << i << " " << m;
            EXPECT_EQ(reductionTableFloor[i][2][m], 0) << i << " " << m;
            EXPECT_EQ(reductionTable[i][0][m], 0);
        }
    const int moves[5] = {1, 2, 5, 10, 63};
    const int32_t plain10[5] = {0, 0, 2, 4, 6}, floor10[5] = {0, 0, 2, 2, 6},
                  improving126[5] = {0, 2, 4, 6, 12};
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(reductionTable[0][10][moves[k]], plain10[k]) << moves[k];
        EXPECT_EQ(reductionTableFloor[0][10][moves[k]], floor10[k]) << moves[k];
        EXPECT_EQ(reductionTable[1][126][moves[k]], improving126[k]) << moves[k];
    }
    EXPECT_EQ(reductionTable[0][126][63], 16);
    for (int d = 0; d < REDUCTION_DEPTHS; d++) EXPECT_EQ(reductionTable[0][d][0], 0);
}

TEST_F(SearchTablesTest, LateMoveCountsWithDefaultOptions) {
    EXPECT_EQ(lateMoveRow(1), (std::vector<int32_t>{2,  2,  3,  4,  5,  6,  8,  10, 13, 16, 19, 22,
                                                    26, 31, 35, 40, 45, 51, 57, 63, 70, 77, 84, 999}));
    EXPECT_EQ(lateMoveRow(0), (std::vector<int32_t>{0,  0,  0,  0,  1,  2,  3,  5,  6,  8,  10, 13,
                                                    15, 18, 21, 24, 27, 31, 34, 38, 43, 47, 52, 999}));
}

TEST_F(SearchTablesTest, ConstantTablesAndParameters) {
    struct Row {
        int depth;
        int32_t quiet, capture;
    };
    for (Row r : {Row{0, 20, 25}, Row{2, 20, 25}, Row{3, 310, 82}, Row{9, 2050, 550}, Row{28, 7560, 3457},
                  Row{199, 7560, 3457}}) {
        EXPECT_EQ(quietHistoryBonus[r.depth], r.quiet) << r.depth;
        EXPECT_EQ(continuationBonus[r.depth], r.quiet) << r.depth;
        EXPECT_EQ(captureHistoryBonus[r.depth], r.capture) << r.depth;
    }
    EXPECT_EQ(futilityMultiplier, 50);
    EXPECT_EQ(historyOffset, 23000);
    EXPECT_EQ(quietSeeMargin[0], 0);
    EXPECT_EQ(quietSeeMargin[10], 1189);
}

// More threads act like a larger "Reduction" and a larger "Selectivity": the
// tables for T threads equal the one-thread tables with the bonus added.
TEST_F(SearchTablesTest, ThreadCountRaisesReductionAndSelectivity) {
    struct Case {
        int threads, reductionBonus, selectivityTerm;
    };
    for (Case c :
         {Case{2, 0, 5}, Case{3, 1, 7}, Case{4, 2, 10}, Case{8, 5, 15}, Case{16, 8, 20}, Case{64, 14, 30}}) {
        threadsOption = c.threads;
        rebuildSearchSettings(false);
        ReductionCopy withThreads = copyReductions();
        std::vector<int32_t> lateWithThreads[2] = {lateMoveRow(0), lateMoveRow(1)};

        threadsOption = 1;
        reductionOption = -20 + c.reductionBonus;
        selectivity = 130 + c.selectivityTerm;
        rebuildSearchSettings(false);
        EXPECT_TRUE(sameReductions(withThreads, copyReductions())) << c.threads << " threads";
        EXPECT_EQ(lateWithThreads[0], lateMoveRow(0)) << c.threads << " threads";
        EXPECT_EQ(lateWithThreads[1], lateMoveRow(1)) << c.threads << " threads";
        reductionOption = -20;
        selectivity = 130;
    }
}

// Monte-Carlo mode ignores the options and the thread count: reduction 5
// with the floor table one ply lower, selectivity 80, a wider futility margin.
TEST_F(SearchTablesTest, MonteCarloModeUsesFixedValues) {
    threadsOption = 8;
    reductionOption = 300;
    selectivity = 20;
    rebuildSearchSettings(true);
    ReductionCopy monteCarlo = copyReductions();
    std::vector<int32_t> lateMonteCarlo = lateMoveRow(0);
    EXPECT_EQ(futilityMultiplier, 90);

    threadsOption = 1;
    reductionOption = 5;
    selectivity = 80;
    rebuildSearchSettings(false);
    EXPECT_EQ(futilityMultiplier, 50);
    EXPECT_EQ(lateMonteCarlo, lateMoveRow(0));
    for (int i = 0; i < 2; i++)
        for (int d = 1; d < REDUCTION_DEPTHS; d++)
            for (int m = 1; m < REDUCTION_MOVES; m++) {
                ASSERT_EQ(monteCarlo.plain[i][d][m], reductionTable[i][d][m]) << i << " " << d << " " << m;
                ASSERT_EQ(monteCarlo.floor[i][d][m], reductionTableFloor[i][d][m] - 2)
                    << i << " " << d << " " << m;
            }
}

// The search start switches modes: only the reductions and the futility
// multiplier follow, and only when the mode differs.
TEST_F(SearchTablesTest, SearchStartRebuildsOnlyOnModeChange) {
    ReductionCopy normal = copyReductions();
    std::vector<int32_t> late = lateMoveRow(1);
    matchSearchTablesToMode(true);
    EXPECT_FALSE(sameReductions(normal, copyReductions()));
    EXPECT_EQ(futilityMultiplier, 90);
    EXPECT_EQ(late, lateMoveRow(1));
    EXPECT_TRUE(searchTablesMonteCarlo);

    reductionOption = 100;  // not looked at while the mode stays the same
    matchSearchTablesToMode(true);
    ReductionCopy monteCarlo = copyReductions();
    reductionOption = -20;
    matchSearchTablesToMode(false);
    EXPECT_TRUE(sameReductions(normal, copyReductions()));
    EXPECT_EQ(futilityMultiplier, 50);
    rebuildSearchSettings(true);
    EXPECT_TRUE(sameReductions(monteCarlo, copyReductions()));
}

TEST_F(SearchTablesTest, OptionChangesTakeEffectOnRebuild) {
    ReductionCopy before = copyReductions();
    std::vector<int32_t> lateBefore = lateMoveRow(1);

    ASSERT_TRUE(setOption("Reduction", "100").changed);
    ASSERT_TRUE(setOption("Selectivity", "60").changed);
    rebuildSearchSettings(false);
    // A larger "Reduction" (K + 100 = 200 instead of 80) reduces more wherever
    // the default reduces at all; a lower "Selectivity" tries more moves
    // before pruning by count.
    EXPECT_GT(reductionTable[0][126][63], 16);
    EXPECT_GT(reductionTableFloor[1][40][30], before.floor[1][40][30]);
    EXPECT_GT(lateMoveCount[1][20], lateBefore[20]);
    for (int d = 2; d < REDUCTION_DEPTHS; d++)
        for (int m = 1; m < REDUCTION_MOVES; m++)
            ASSERT_GE(reductionTable[0][d][m], std::max(before.plain[0][d][m], 0)) << d << " " << m;

    // Extreme settings still never prune by count at the top row.
    for (const char* value : {"10", "250"}) {
        setOption("Selectivity", value);
        rebuildSearchSettings(false);
        EXPECT_EQ(lateMoveCount[0][23], 999) << value;
        EXPECT_EQ(lateMoveCount[1][23], 999) << value;
    }

    setOption("Reduction", "-20");
    setOption("Selectivity", "130");
    rebuildSearchSettings(false);
    EXPECT_TRUE(sameReductions(before, copyReductions()));
    EXPECT_EQ(lateBefore, lateMoveRow(1));
}

// "setoption" outside a search rebuilds the tables at once (a change during a
// search waits for the next "go", which the protocol tests cover).
TEST_F(SearchTablesTest, SetoptionWhileIdleRebuildsAtOnce) {
    queueInputLine("setoption name Reduction value 100");
    processOneCommand();
    EXPECT_GT(reductionTable[0][126][63], 16);
    queueInputLine("setoption name Reduction value -20");
    processOneCommand();
    EXPECT_EQ(reductionTable[0][126][63], 16);
}

}  // namespace
