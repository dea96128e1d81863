// Perft against the reference counts of the shared suite (counted by two
// independent engines), up to a node budget that keeps the test quick.
#include <gtest/gtest.h>

#include "../board/board_test_util.h"
#include "search/perft.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t NODE_BUDGET = 200'000;
#else
constexpr uint64_t NODE_BUDGET = 3'000'000;
#endif

uint64_t countLeaves(const Position& pos, int depth) {
    perftLeafCount = 0;
    perft(pos, depth);
    return perftLeafCount;
}

TEST(Perft, MatchesReferenceSuite) {
    initBoardTables();
    std::vector<PerftCase> suite = loadPerftSuite();
    ASSERT_GE(suite.size(), 60u);
    for (const PerftCase& c : suite) {
        chess960 = c.chess960;
        Position pos;
        setFromFen(pos, c.fen.c_str());
        for (size_t d = 1; d <= c.counts.size() && c.counts[d - 1] <= NODE_BUDGET; d++)
            EXPECT_EQ(countLeaves(pos, int(d)), c.counts[d - 1]) << c.fen << " depth " << d;
    }
    chess960 = 0;
}

TEST(Perft, DepthZeroCountsLikeDepthOne) {
    initBoardTables();
    Position pos;
    setFromFen(pos, "");
    EXPECT_EQ(countLeaves(pos, 0), 20u);
    EXPECT_EQ(countLeaves(pos, -3), 20u);
    EXPECT_EQ(countLeaves(pos, 4), 197281u);
}

}  // namespace
