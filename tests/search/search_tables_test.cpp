// The search tables: their shape with the default options and how the
// options scale them, the thread and Monte-Carlo adjustments, and rebuilding
// after "Reduction" or "Selectivity" changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "core/options.h"
#include "search/history.h"
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

// Reductions with the default options. Depth 2 (one ply) and move 1 reduce
// nothing, depth 1 (never read) nothing or less; elsewhere the reduction is
// whole plies, grows with the depth and the move number, stays below the
// depth, is no larger at improving nodes, and the floor table lies at most
// one ply under the rounded one.
TEST_F(SearchTablesTest, ReductionsGrowWithDepthAndMoveNumber) {
    for (int i = 0; i < 2; i++)
        for (int d = 0; d < REDUCTION_DEPTHS; d++)
            for (int m = 0; m < REDUCTION_MOVES; m++) {
                int32_t plain = reductionTable[i][d][m], floor = reductionTableFloor[i][d][m];
                ASSERT_EQ(plain % 2, 0) << i << " " << d << " " << m;
                ASSERT_EQ(floor % 2, 0) << i << " " << d << " " << m;
                if (d == 0 || d == 2 || m <= 1) {
                    ASSERT_EQ(plain, 0) << i << " " << d << " " << m;
                    ASSERT_EQ(floor, 0) << i << " " << d << " " << m;
                    continue;
                }
                if (d == 1) {
                    ASSERT_LE(plain, 0) << i << " " << m;
                    ASSERT_LE(floor, 0) << i << " " << m;
                    continue;
                }
                ASSERT_GE(plain, reductionTable[i][d - 1][m]) << i << " " << d << " " << m;
                ASSERT_GE(plain, reductionTable[i][d][m - 1]) << i << " " << d << " " << m;
                ASSERT_GE(floor, reductionTableFloor[i][d - 1][m]) << i << " " << d << " " << m;
                ASSERT_GE(floor, reductionTableFloor[i][d][m - 1]) << i << " " << d << " " << m;
                ASSERT_LT(plain, d) << i << " " << d << " " << m;
                ASSERT_GE(floor, 0) << i << " " << d << " " << m;
                ASSERT_TRUE(plain == floor || plain == floor + 2) << i << " " << d << " " << m;
                if (i == 1) {
                    ASSERT_LE(plain, reductionTable[0][d][m]) << d << " " << m;
                    ASSERT_LE(floor, reductionTableFloor[0][d][m]) << d << " " << m;
                }
            }
    // The deepest, latest move of a node that is not improving reduces by
    // several plies, more than at an improving node.
    EXPECT_GE(reductionTable[0][126][63], 8);
    EXPECT_LT(reductionTable[1][126][63], reductionTable[0][126][63]);
}

// The reduction is proportional to "Reduction" + 100: doubling it (-20 to
// 60) doubles the unrounded value, so each floor entry becomes twice the old
// one or one ply more.
TEST_F(SearchTablesTest, ReductionScalesWithTheOption) {
    ReductionCopy base = copyReductions();
    reductionOption = 60;
    rebuildSearchSettings(false);
    for (int i = 0; i < 2; i++)
        for (int d = 2; d < REDUCTION_DEPTHS; d++)
            for (int m = 1; m < REDUCTION_MOVES; m++) {
                int32_t twice = 2 * base.floor[i][d][m], now = reductionTableFloor[i][d][m];
                ASSERT_TRUE(now == twice || now == twice + 2)
                    << i << " " << d << " " << m << ": " << base.floor[i][d][m] << " -> " << now;
            }
    EXPECT_GT(reductionTableFloor[0][126][63], base.floor[0][126][63]);
}

// Late-move counts with the default options: more moves at greater depths,
// at least two more at improving nodes, and no limit at the top row. Half the
// "Selectivity" doubles the count of a node that is not improving (up to
// rounding) and never lowers a count.
TEST_F(SearchTablesTest, LateMoveCountsGrowWithDepthAndShrinkWithSelectivity) {
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(lateMoveCount[i][LATE_MOVE_DEPTHS - 1], 999) << i;
        for (int d = 1; d < LATE_MOVE_DEPTHS - 1; d++) {
            EXPECT_GE(lateMoveCount[i][d], lateMoveCount[i][d - 1]) << i << " " << d;
            EXPECT_LT(lateMoveCount[i][d], 999) << i << " " << d;
        }
    }
    for (int d = 0; d < LATE_MOVE_DEPTHS - 1; d++)
        EXPECT_GE(lateMoveCount[1][d], lateMoveCount[0][d] + 2) << d;
    EXPECT_GT(lateMoveCount[0][LATE_MOVE_DEPTHS - 2], lateMoveCount[0][1]);

    std::vector<int32_t> before[2] = {lateMoveRow(0), lateMoveRow(1)};
    selectivity = 65;
    rebuildSearchSettings(false);
    for (int d = 0; d < LATE_MOVE_DEPTHS - 1; d++) {
        EXPECT_GE(lateMoveCount[0][d], 2 * before[0][d]) << d;
        EXPECT_LE(lateMoveCount[0][d], 2 * before[0][d] + 2) << d;
        EXPECT_GE(lateMoveCount[1][d], before[1][d]) << d;
    }
    EXPECT_GT(lateMoveCount[1][LATE_MOVE_DEPTHS - 2], before[1][LATE_MOVE_DEPTHS - 2]);
}

// History bonuses are positive and grow with the depth between 2 and 28,
// flat outside it: linearly for the quiet and continuation histories (the
// same table), quadratically for the capture history. None is so large that
// the gravity rules would overshoot an entry's bounds.
TEST_F(SearchTablesTest, HistoryBonusesGrowWithinTheClampAndKeepEntriesInRange) {
    for (int d = 0; d < HISTORY_BONUS_DEPTHS; d++) {
        int32_t quiet = quietHistoryBonus[d], capture = captureHistoryBonus[d];
        EXPECT_EQ(continuationBonus[d], quiet) << d;
        EXPECT_GT(quiet, 0) << d;
        EXPECT_GT(capture, 0) << d;
        int clamped = std::clamp(d, 2, 28);
        EXPECT_EQ(quiet, quietHistoryBonus[clamped]) << d;
        EXPECT_EQ(capture, captureHistoryBonus[clamped]) << d;

        // From anywhere in an entry's range a bonus raises it and a malus
        // lowers it without leaving the range (nor wrapping round).
        for (int32_t h = 0; h <= 32000; h += 500) {
            int32_t up = mainHistoryAfter(h, quiet), down = mainHistoryAfter(h, -quiet);
            ASSERT_TRUE(h <= up && up <= 32000 && 0 <= down && down <= h) << d << " " << h;
        }
        for (int32_t h = 2662; h <= 13338; h += 250) {
            int32_t up = captureHistoryAfter(h, capture), down = captureHistoryAfter(h, -capture);
            ASSERT_TRUE(h <= up && up <= 13338 && 2662 <= down && down <= h) << d << " " << h;
        }
        for (int32_t c = 0; c <= 64000; c += 1000) {
            int32_t up = continuationAfterBonus(c, quiet), down = continuationAfterMalus(c, quiet);
            ASSERT_TRUE(c <= up && up <= 64000 && down <= c) << d << " " << c;
        }
    }
    // Between the clamp's ends: the quiet steps are all alike, the capture
    // steps grow by the same amount each time.
    auto quietStep = [](int d) { return quietHistoryBonus[d] - quietHistoryBonus[d - 1]; };
    auto captureStep = [](int d) { return captureHistoryBonus[d] - captureHistoryBonus[d - 1]; };
    EXPECT_GT(quietStep(3), 0);
    EXPECT_GT(captureStep(3), 0);
    EXPECT_GT(captureStep(4), captureStep(3));
    for (int d = 4; d <= 28; d++) {
        EXPECT_EQ(quietStep(d), quietStep(3)) << d;
        EXPECT_EQ(captureStep(d) - captureStep(d - 1), captureStep(4) - captureStep(3)) << d;
    }
}

// The exchange margin of a late quiet move is none at depth 0 and rises ever
// faster with the reduced depth.
TEST_F(SearchTablesTest, QuietExchangeMarginRisesFasterWithDepth) {
    EXPECT_EQ(quietSeeMargin[0], 0);
    for (size_t d = 1; d < std::size(quietSeeMargin); d++) {
        EXPECT_GT(quietSeeMargin[d], quietSeeMargin[d - 1]) << d;
        if (d >= 2) {
            EXPECT_GT(quietSeeMargin[d] - quietSeeMargin[d - 1],
                      quietSeeMargin[d - 1] - quietSeeMargin[d - 2])
                << d;
        }
    }
}

// Start-up restores the history offset that a Monte-Carlo search lowers.
TEST_F(SearchTablesTest, StartUpRestoresTheHistoryOffset) {
    historyOffset = HISTORY_OFFSET_AFTER_MCTS;
    initSearchTables();
    EXPECT_EQ(historyOffset, HISTORY_OFFSET_DEFAULT);
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
