// The Monte-Carlo tree in process: the value conversion, the exploration
// constants, the node store's limits, playouts on one-node trees (the first
// three visits, mate, stalemate, a material draw), tree reuse and the
// progress report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>

#include "../board/board_test_util.h"
#include "../search/search_test_setup.h"
#include "board/make_move.h"
#include "control/time_budget.h"
#include "core/options.h"
#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "mcts/playout.h"
#include "mcts/tree_output.h"
#include "mcts/tree_reuse.h"
#include "mcts/win_probability.h"
#include "platform/clock.h"
#include "platform/system_memory.h"
#include "search/root_search.h"
#include "search/search_session.h"

namespace {

// ---------------------------------------------------------------------------
// Values and constants

TEST(MctsValues, ScoresAndWinProbabilitiesConvertBothWays) {
    struct Case {
        double score, probability;
    };
    for (Case c : {Case{0, 0.5}, Case{130, 0.75}, Case{-130, 0.25}})
        EXPECT_NEAR(probabilityFromScore(c.score), c.probability, 1e-12) << c.score;
    EXPECT_GT(probabilityFromScore(MATE_SCORE - 3), 0.998);
    // The constants of the way back are rounded: 0.75 gives 129.99..., cut to 129.
    EXPECT_EQ(scoreFromProbability(0.75), 129);
    EXPECT_EQ(scoreFromProbability(0.25), -129);
    EXPECT_EQ(scoreFromProbability(0.5), 0);
    EXPECT_EQ(scoreFromProbability(1.0), EVAL_LIMIT);
    EXPECT_EQ(scoreFromProbability(0.0), -EVAL_LIMIT);
}

struct ExploreCase {
    int explore, root, optimism, threads;
    double even, odd, atRoot;
};

TEST(MctsSettings, ExplorationFollowsTheOptionsAndTheThreadCount) {
    const ExploreCase cases[] = {
        {40, 60, 10, 1, 0.20, 0.40, 0.50},
        {40, 60, 10, 4, 0.30, 0.50, 0.60},
        {15, 15, 10, 1, 0.15, 0.15, 0.15},  // never below 0.15
    };
    for (const ExploreCase& c : cases) {
        mctsExplore = c.explore;
        mctsExploreRoot = c.root;
        mctsOptimism = c.optimism;
        MctsSettings s = computeMctsSettings(c.threads, 1.0);
        EXPECT_NEAR(s.cpuct[0], c.even, 1e-12);
        EXPECT_NEAR(s.cpuct[1], c.odd, 1e-12);
        EXPECT_NEAR(s.cpuctRoot, c.atRoot, 1e-12);
    }
    mctsExplore = 40;
    mctsExploreRoot = 60;
    mctsOptimism = 10;
}

TEST(MctsSettings, LeafSearchesGrowWithTheTime) {
    struct Case {
        double targetTime;
        int depth;
        int32_t small, large;
    };
    // Budget scale sqrt(0.4 t), at most 8: 10 s gives 2, no limit gives 8.
    for (Case c : {Case{0.5, 5, 6708, 20124}, Case{0.75, 6, 8215, 24647}, Case{9.0, 6, 28460, 85381},
                   Case{10.0, 7, 30000, 90000}, Case{NO_TIME_LIMIT, 7, 120000, 360000}}) {
        MctsSettings s = computeMctsSettings(1, c.targetTime);
        EXPECT_EQ(s.expansionDepth, c.depth) << c.targetTime;
        EXPECT_EQ(s.budgetSmall, c.small) << c.targetTime;
        EXPECT_EQ(s.budgetLarge, c.large) << c.targetTime;
    }
}

// ---------------------------------------------------------------------------
// The node store

TEST(MctsNodeStore, HandsOutNodesUpToItsCapacityAndNoFurther) {
    ASSERT_TRUE(resizeNodeStore(32));
    EXPECT_EQ(mctsCapacity, 32 * 16384);
    EXPECT_EQ(mctsNodeCount.load(), 0);
    EXPECT_EQ(takeNodes(5), 1);
    mctsNodeCount.store(mctsCapacity - 10);
    EXPECT_EQ(takeNodes(9), mctsCapacity - 9);  // the last node of the store
    EXPECT_EQ(takeNodes(1), 0);
    EXPECT_EQ(mctsNodeCount.load(), mctsCapacity - 1);
    clearTree();
}

TEST(MctsNodeStore, RefusesMoreThanTheMachineHasAndKeepsTheOldStore) {
    ASSERT_TRUE(resizeNodeStore(32));
    MctsNode* before = mctsNodes;
    mctsNodeCount.store(7);
    uint64_t physical = physicalMemoryBytes();
    if (physical == 0) GTEST_SKIP() << "the system does not say how much memory it has";
    EXPECT_FALSE(resizeNodeStore(int(physical >> 20) + 1));
    EXPECT_FALSE(resizeNodeStore(1 << 30));  // more nodes than an index can name
    EXPECT_FALSE(resizeNodeStore(0));
    EXPECT_EQ(mctsNodes, before);
    EXPECT_EQ(mctsCapacity, 32 * 16384);
    EXPECT_EQ(mctsNodeCount.load(), 7);
    clearTree();
}

// ---------------------------------------------------------------------------
// Playouts

class MctsPlayout : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        fillRule50Scale();
        initSearchTestEngine();
        ASSERT_TRUE(resizeNodeStore(32));
    }

    void SetUp() override {
        resetThreadZeroForSearch(0);
        hardLimit = extendLimit = NO_TIME_LIMIT;
        timeUp = false;
        quietSearch = true;
        setMctsSession(1, 1.0, 99);
        // Small refinement budgets keep the tests quick.
        mctsSettings.budgetSmall = 2000;
        mctsSettings.budgetLarge = 4000;
        preparePlayoutStacks(1);
    }

    void TearDown() override {
        resetSearchState();
        quietSearch = false;
        clearTree();
    }

    // The position as thread 0's root record.
    static Position& rootOf(const char* fen) {
        static const RootMove noMoves[1] = {{0, 0, 0}};
        Position game = fromFen(fen);
        return prepareThreadRoot(*searchThreads[0], game, noMoves);
    }

    // A tree of one node, visited `visits` times with value 0.6 each time.
    static MctsNode& singleNode(const Position& pos, uint64_t visits) {
        mctsNodeCount.store(0);
        MctsNode& node = mctsNode(0);
        node = MctsNode{};
        node.key = pos.key;
        node.visits = visits;
        node.playouts = double(visits);
        node.valueSum = 0.6 * double(visits);
        return node;
    }

    static int childCount(const MctsNode& node) {
        int count = 0;
        for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling) count++;
        return count;
    }
};

// The first two visits only return the node's value; the third makes one
// child per legal move, with priors that sum to 1 and the children's keys,
// and goes on to refine one of them.
TEST_F(MctsPlayout, TheThirdVisitExpandsTheNode) {
    Position& pos = rootOf("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");  // six legal moves
    for (uint64_t visits : {1u, 2u}) {
        MctsNode& node = singleNode(pos, visits);
        PlayoutResult r = playout(0, pos, 1);
        EXPECT_TRUE(r.valid);
        EXPECT_NEAR(r.value, 0.6, 1e-12);
        EXPECT_EQ(node.firstChild, 0);
        EXPECT_EQ(mctsNodeCount.load(), 0);
    }
    MctsNode& node = singleNode(pos, 3);
    PlayoutResult r = playout(0, pos, 1);
    ASSERT_TRUE(r.valid);
    EXPECT_GT(r.value, 0.0);
    EXPECT_LT(r.value, 1.0);
    ASSERT_EQ(childCount(node), 6);
    EXPECT_EQ(mctsNodeCount.load(), 6);
    EXPECT_EQ(node.busy, 0);
    double priors = 0;
    uint64_t visits = 0;
    for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling) {
        const MctsNode& child = mctsNode(c);
        priors += child.prior;
        visits += child.visits;
        Position after;
        ASSERT_TRUE(makeMove(pos, after, Move(child.move)));
        EXPECT_EQ(child.key, after.key) << moveText(Move(child.move));
        EXPECT_GE(child.visits, 1u);
        EXPECT_EQ(child.firstChild, 0);
    }
    EXPECT_NEAR(priors, 1.0, 1e-6);
    EXPECT_EQ(visits, 7u);  // every child once, and the refined one a second time
}

struct EndCase {
    const char* name;
    const char* fen;
    double value;     // for the player who moved into the position
    bool searchless;  // valued without a single search node
};

class MctsPlayoutEnds : public MctsPlayout, public ::testing::WithParamInterface<EndCase> {};

// Positions that end the game keep no children, however often visited.
TEST_P(MctsPlayoutEnds, AreValuedWithoutChildren) {
    const EndCase& c = GetParam();
    Position& pos = rootOf(c.fen);
    MctsNode& node = singleNode(pos, 3);
    for (int visit = 0; visit < 2; visit++) {
        PlayoutResult r = playout(0, pos, 3);
        EXPECT_TRUE(r.valid);
        EXPECT_NEAR(r.value, c.value, 1e-9);
        EXPECT_EQ(node.firstChild, 0);
        EXPECT_EQ(mctsNodeCount.load(), 0);
    }
    if (c.searchless) {
        EXPECT_EQ(searchThreads[0]->nodes.load(), 0u);
    }
}

const EndCase EndCases[] = {
    {"Checkmate", "7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", 0.5 + std::atan((MATE_SCORE - 3) / 130.0) / M_PI, false},
    {"Stalemate", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0.5, false},
    {"KingAndKnightAgainstKing", "8/8/4k3/8/8/3NK3/8/8 w - - 0 1", 0.5, true},
};

INSTANTIATE_TEST_SUITE_P(Mcts, MctsPlayoutEnds, ::testing::ValuesIn(EndCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Tree reuse

// A tree by hand: root 0 with children 1 and 2; child 1 with children 3 and
// 4; node 3 (the opponent's reply that was played) with children 5 and 6;
// node 5 with child 7.
constexpr Key REPLY_KEY = 0x3333, LEAF_REPLY_KEY = 0x4444;

void link(int32_t parent, std::initializer_list<int32_t> children) {
    int32_t previous = 0;
    for (int32_t c : children) {
        if (previous)
            mctsNode(previous).nextSibling = c;
        else
            mctsNode(parent).firstChild = c;
        previous = c;
    }
}

void buildHandTree(double replyPlayouts) {
    for (int32_t i = 0; i <= 7; i++) {
        MctsNode& node = mctsNode(i);
        node = MctsNode{};
        node.move = uint32_t(100 + i);
        node.key = 0x1000 + Key(i);
        node.visits = 2;
        node.playouts = 2.2;  // a playout still in flight
        node.busy = 1;
    }
    mctsNode(3).key = REPLY_KEY;
    mctsNode(3).playouts = replyPlayouts;
    mctsNode(3).visits = 9;
    mctsNode(4).key = LEAF_REPLY_KEY;
    link(0, {1, 2});
    link(1, {3, 4});
    link(3, {5, 6});
    link(5, {7});
    mctsNodeCount.store(7);
}

TEST(MctsTreeReuse, KeepsTheSubtreeOfTheReplyPlayed) {
    ASSERT_TRUE(resizeNodeStore(32));
    buildHandTree(9.0);
    Position root{};
    root.key = REPLY_KEY;
    ASSERT_TRUE(reuseTree(root, 2));
    EXPECT_EQ(mctsNodeCount.load(), 3);  // nodes 3, 5, 6, 7 are now 0 .. 3
    const MctsNode& newRoot = mctsNode(0);
    EXPECT_EQ(newRoot.key, REPLY_KEY);
    EXPECT_EQ(newRoot.visits, 12u);  // three more
    EXPECT_EQ(startVisits, 12);
    EXPECT_EQ(newRoot.firstChild, 1);
    EXPECT_EQ(mctsNode(1).move, 105u);
    EXPECT_EQ(mctsNode(1).nextSibling, 2);
    EXPECT_EQ(mctsNode(1).firstChild, 3);
    EXPECT_EQ(mctsNode(2).move, 106u);
    EXPECT_EQ(mctsNode(2).nextSibling, 0);
    EXPECT_EQ(mctsNode(3).move, 107u);
    for (int32_t i = 0; i <= 3; i++) {
        EXPECT_EQ(mctsNode(i).busy, 0) << i;
        EXPECT_EQ(mctsNode(i).playouts, double(mctsNode(i).visits)) << i;
    }
    clearTree();
}

TEST(MctsTreeReuse, StartsAfreshWhenNothingWorthKeepingIsFound) {
    ASSERT_TRUE(resizeNodeStore(32));
    struct Case {
        const char* what;
        Key key;
        double replyPlayouts;
        int rootMoves;
    };
    const Case cases[] = {
        {"not a grandchild", 0x1001, 9.0, 2},
        {"no children", LEAF_REPLY_KEY, 9.0, 2},
        {"three playouts or fewer", REPLY_KEY, 3.0, 2},
        {"a root move list cut down by searchmoves", REPLY_KEY, 9.0, 1},
    };
    for (const Case& c : cases) {
        buildHandTree(c.replyPlayouts);
        Position root{};
        root.key = c.key;
        EXPECT_FALSE(reuseTree(root, c.rootMoves)) << c.what;
        EXPECT_EQ(startVisits, 0) << c.what;
        EXPECT_EQ(mctsNodeCount.load(), 7) << c.what;
    }
    // No child visited twice: nothing learnt below the reply yet.
    buildHandTree(9.0);
    for (int32_t i : {5, 6}) mctsNode(i).playouts = 1.0;
    Position root{};
    root.key = REPLY_KEY;
    EXPECT_FALSE(reuseTree(root, 2));
    clearTree();
}

// ---------------------------------------------------------------------------
// The progress report

// A root with three children: d2d4 most visited (value 0.7, reply d7d5),
// e2e4 next (0.6), g1f3 last (0.5); 200 nodes in use, which shows as depth
// trunc(ln 200 * 2.1276) = 11. Values show as scores at 60 %: 0.7 is 94,
// shown 56; 0.6 is 42, shown 25.
class MctsReport : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(resizeNodeStore(32));
        struct Child {
            Move move;
            uint64_t visits;
            double value;
        };
        const Child children[] = {{encodeMove(E2, E4), 10, 0.6},
                                  {encodeMove(D2, D4), 30, 0.7},
                                  {encodeMove(G1, F3), 5, 0.5},
                                  {encodeMove(D7, D5), 20, 0.3}};
        mctsNode(0) = MctsNode{};
        mctsNode(0).visits = 48;
        for (int i = 0; i < 4; i++) {
            MctsNode& node = mctsNode(i + 1);
            node = MctsNode{};
            node.move = children[i].move;
            node.visits = children[i].visits;
            node.valueSum = children[i].value * double(children[i].visits);
        }
        link(0, {1, 2, 3});
        link(2, {4});
        mctsNodeCount.store(200);
        searchStartTime = elapsedSeconds();
        searchThreads[0]->stop.store(false);
        treeSearchRunning.store(true);
        useRegularEval = false;
    }

    void TearDown() override {
        treeSearchRunning.store(false);
        searchThreads[0]->stop.store(false);
        multiPV = 1;
        mctsDepthLimit = 99;
        clearTree();
    }

    static std::string report() {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(reportTreeProgress());
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(MctsReport, OneLineShowsTheBestValueAndTheMostVisitedLine) {
    EXPECT_TRUE(
        std::regex_match(report(), std::regex("info depth 11 seldepth [0-9]+ time [1-9][0-9]* score cp 56 "
                                              "nodes 200 nps [0-9]+ pv d2d4 d7d5\n")));
}

TEST_F(MctsReport, MultiPvShowsTheRootChildrenByVisits) {
    multiPV = 2;
    EXPECT_TRUE(std::regex_match(
        report(), std::regex("info multipv 1 depth 11 seldepth [0-9]+ time [1-9][0-9]* nodes 200 "
                             "nps [0-9]+ score cp 56 tbhits 0 pv d2d4 d7d5\n"
                             "info multipv 2 depth 11 seldepth [0-9]+ time [1-9][0-9]* nodes 200 "
                             "nps [0-9]+ score cp 25 tbhits 0 pv e2e4\n")));
    multiPV = 5;  // more lines than root children: one line per child
    std::string lines = report();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
}

// The depth given with "go" ends the search at the first report that shows it.
TEST_F(MctsReport, StopsTheSearchOnceTheShownDepthReachesTheLimit) {
    for (int limit : {12, 11}) {
        mctsDepthLimit = limit;
        report();
        EXPECT_EQ(searchThreads[0]->stop.load(), limit <= 11) << limit;
    }
    treeSearchRunning.store(false);
    EXPECT_FALSE(reportTreeProgress());
}

}  // namespace
