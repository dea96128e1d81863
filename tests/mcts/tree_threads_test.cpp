// Two threads playing out on one tree in this process (the ThreadSanitizer
// run includes it): the search grows the tree with both, and when it ends
// no update is lost and no virtual loss or lock is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../board/board_test_util.h"
#include "../search/search_test_setup.h"
#include "control/thread_pool.h"
#include "control/time_budget.h"
#include "mcts/mcts_search.h"
#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "platform/clock.h"
#include "search/root_search.h"
#include "search/search_session.h"

namespace {

class MctsThreads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        fillRule50Scale();
        initSearchTestEngine();
        ASSERT_TRUE(resizeNodeStore(32));
    }

    void SetUp() override {
        savedThreads = threadsOption;
        transpositionTable.clear();
        resetSearchState();
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
        searchStartTime = elapsedSeconds();
        quietSearch = true;
        // A fixed move time turns the early stop off: the test stops the search.
        moveTimeLimit = 1;
    }

    void TearDown() override {
        mctsActive = false;
        moveTimeLimit = 0;
        quietSearch = false;
        threadsOption = savedThreads;
        releaseThreadPool();
        resizeThreads();
        clearTree();
    }

    int32_t savedThreads = 1;
};

TEST_F(MctsThreads, TwoThreadsGrowOneTreeWithoutLosingUpdates) {
    threadsOption = 2;
    resizeThreads();
    ASSERT_EQ(activeThreads.load(), 2);
    // A rook ending: few moves and cheap leaf searches.
    Position game = fromFen("3r4/5pk1/6p1/8/8/6P1/5PK1/3R4 w - - 0 1");
    rootPosition = game;
    std::vector<Move> moves = legalMoves(game);
    for (size_t i = 0; i < moves.size(); i++) rootMoves[i] = {moves[i], 0, 0};
    rootMoves[moves.size()] = {MOVE_NONE, 0, 0};
    rootMoveCount = int32_t(moves.size());
    mctsActive = true;
    SearchThread& main = *searchThreads[0];
    main.stop.store(false);
    main.nodes.store(0);
    Position& root = prepareThreadRoot(main, rootPosition, rootMoves);

    // The search ends once a playout has gone two plies deep, below a root
    // child that was expanded (or after a minute, for a very slow build).
    mctsSelDepth.store(0);
    std::atomic<bool> searchDone{false};
    std::thread stopper([&] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!searchDone.load() && mctsSelDepth.load() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        main.stop.store(true);
    });
    // A tiny target time gives leaf budgets of under a thousand nodes.
    mctsSearch(root, 0.01, 99, {startWorkers, finishWorkerSearch});
    searchDone.store(true);
    stopper.join();

    int32_t count = mctsNodeCount.load();
    EXPECT_GE(mctsSelDepth.load(), 2);
    EXPECT_GT(count, rootMoveCount);
    EXPECT_GT(searchThreads[1]->nodes.load(), 0u);  // the worker searched leaves
    // The root counts three visits of its own and one per child made; every
    // other visit went on to one child (no root move repeats or draws).
    const MctsNode& top = mctsNode(0);
    EXPECT_NEAR(top.playouts, double(top.visits) - 3, 1e-6);
    uint64_t childVisits = 0;
    for (int32_t c = top.firstChild; c; c = mctsNode(c).nextSibling) childVisits += mctsNode(c).visits;
    EXPECT_EQ(childVisits, top.visits - 3);
    for (int32_t i = 1; i <= count; i++) {
        const MctsNode& node = mctsNode(i);
        EXPECT_NEAR(node.playouts, double(node.visits), 1e-6) << i;
        EXPECT_EQ(node.busy, 0) << i;
    }
}

}  // namespace
