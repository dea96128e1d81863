// Making moves the way the search does: node counting and the node limit.
#include <gtest/gtest.h>

#include "../board/board_test_util.h"
#include "search/search_move.h"

namespace {

// The move that reaches the limit raises the owner's stop flag; once it is
// raised, further moves count nothing.
TEST(SearchMove, NodeLimitRaisesTheStopFlagAtTheLimit) {
    Position pos = fromFen(""), child;
    SearchThread& thread = *searchThreads[0];
    thread.nodes = 0;
    thread.stop = false;
    nodeLimit = 1000;
    for (int i = 0; i < 999; i++) makeSearchMove(pos, child, encodeMove(E2, E4, DOUBLE_PUSH));
    EXPECT_FALSE(thread.stop);
    makeSearchMove(pos, child, encodeMove(E2, E4, DOUBLE_PUSH));
    EXPECT_TRUE(thread.stop);
    EXPECT_EQ(thread.nodes, 1000u);
    makeSearchMove(pos, child, encodeMove(E2, E4, DOUBLE_PUSH));
    EXPECT_EQ(thread.nodes, 1000u);
    nodeLimit = -1;
    thread.stop = false;
    thread.nodes = 0;
}

// Testing for a legal move counts every move made on the way, as the search
// would: here the king in check has one escape, found after the moves the
// generator lists before it.
TEST(SearchMove, LegalMoveTestCountsTheMovesItMakes) {
    Position pos = fromFen("k7/8/8/8/8/8/1q6/K7 w - - 0 1");
    pos.checkers = computeCheckers(pos);
    SearchThread& thread = *searchThreads[0];
    thread.nodes = 0;
    thread.stop = false;
    int tried = 0;
    EXPECT_TRUE(hasLegalMove(pos, &tried));
    EXPECT_GE(tried, 1);
    EXPECT_TRUE(searchHasLegalMove(pos));
    EXPECT_EQ(thread.nodes, uint64_t(tried));
    thread.nodes = 0;
}

}  // namespace
