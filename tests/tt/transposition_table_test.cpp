// The transposition table: sizing, mate-score adjustment, slot choice, the
// replacement and protection rules of the five store kinds, generations and
// hashfull, busy flags, and the zero fill.
#include "tt/transposition_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/options.h"
#include "search/search_session.h"

namespace {

constexpr Move MOVE_A = encodeMove(E2, E4, DOUBLE_PUSH);
constexpr Move MOVE_B = encodeMove(G1, F3);

// A key that lands in `cluster` and carries `key32` as its upper half.
constexpr Key keyIn(uint64_t cluster, uint32_t key32) {
    return (Key(key32) << 32) | cluster;
}

uint64_t nonZeroBytes(const TranspositionTable& table) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(table.clusters);
    uint64_t count = 0;
    for (uint64_t i = 0; i < table.sizeInBytes(); i++) count += bytes[i] != 0;
    return count;
}

// A 1 MB table (16384 clusters) of its own for every test.
class TranspositionTableTest : public ::testing::Test {
  protected:
    void SetUp() override { table.resize(1); }
    void TearDown() override { table.release(); }

    TTEntry& slot(uint64_t cluster, int index) { return table.clusters[cluster].entries[index]; }

    TranspositionTable table;
};

TEST(TranspositionTableSizing, MegabytesGiveAPowerOfTwoClusterCount) {
    struct Case {
        int megabytes;
        uint64_t clusters;
    };
    const Case cases[] = {
        {1, 16384},     {2, 32768},     {3, 32768},  // 3 MB is only 50 % above 2 MB
        {16, 262144},   {24, 262144},   {31, 262144},         {32, 524288},
        {100, 1048576}, {256, 4194304}, {524288, 1ULL << 33},  // the option's maximum: 512 GiB
    };
    for (const Case& c : cases) EXPECT_EQ(clusterCountForMegabytes(c.megabytes), c.clusters) << c.megabytes;
}

TEST(TranspositionTableSizing, SixteenMegabytesIsExactlySixteenMiBAligned) {
    TranspositionTable table;
    table.resize(16);
    EXPECT_EQ(table.clusterCount, 262144u);
    EXPECT_EQ(table.indexMask, 262143u);
    EXPECT_EQ(table.sizeInBytes(), 16777216u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(table.clusters) % 64, 0u);
    EXPECT_NE(table.rawBlock, nullptr);
    table.release();
    EXPECT_EQ(table.rawBlock, nullptr);
    EXPECT_EQ(table.clusterCount, 1u);
}

TEST(TranspositionTableSizing, ReleasedTableStillTakesStoresAndProbes) {
    TranspositionTable table;  // never built: the spare cluster
    table.storeExact(0x123456789ULL, 10, 55, MOVE_A, 3, 0);
    TTEntry entry;
    ASSERT_TRUE(table.probe(0x123456789ULL, entry));
    EXPECT_EQ(entry.score, 55);
    table.resize(0);  // "Hash" 0: nothing built
    EXPECT_EQ(table.sizeInBytes(), 64u);
    EXPECT_FALSE(table.probe(0x123456789ULL, entry));
    EXPECT_EQ(table.hashfull(), 0);
}

TEST(MateScores, StoredRelativeToTheNode) {
    struct Case {
        int score, ply, stored;
    };
    const Case cases[] = {
        {31990, 10, 32000},    // mate in 10 plies from the root, found at ply 10: mate here
        {-31990, 10, -32000},  //
        {31800, 3, 31803},     // the bound itself counts as a mate score
        {-31800, 3, -31803},   //
        {31799, 7, 31799},     // just below: an ordinary score
        {-31799, 7, -31799},   //
        {250, 40, 250},        //
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scoreToTT(c.score, c.ply), c.stored) << c.score << " at ply " << c.ply;
        EXPECT_EQ(scoreFromTT(c.stored, c.ply), c.score) << c.score << " at ply " << c.ply;
    }
    // Found again nearer the root, the same mate is nearer too.
    EXPECT_EQ(scoreFromTT(scoreToTT(31990, 10), 4), 31996);
    EXPECT_EQ(scoreFromTT(scoreToTT(-31990, 10), 4), -31996);
}

TEST_F(TranspositionTableTest, MateScoreSurvivesTheTable) {
    Key key = keyIn(77, 0xABCDEF01);
    table.storeExact(key, 20, int16_t(scoreToTT(31990, 10)), MOVE_A, 12, 1);
    TTEntry entry;
    ASSERT_TRUE(table.probe(key, entry));
    EXPECT_EQ(entry.score, 32000);
    EXPECT_EQ(scoreFromTT(entry.score, 4), 31996);
}

TEST_F(TranspositionTableTest, FreshWritesFillEmptySlotsInOrder) {
    table.generation = 9;
    table.storeExact(keyIn(5, 1), 200, 10, MOVE_A, 20, 1);
    table.storeUpperBound(keyIn(5, 2), 8, -30, 21, 0);
    table.storeFinal(keyIn(5, 3), 6, -31995, EVAL_NONE, 0);
    table.storeEval(keyIn(5, 4), -44, 1);

    const TTEntry& exact = slot(5, 0);
    EXPECT_EQ(exact.key32, 1u);
    EXPECT_EQ(exact.depth, 127);  // clamped
    EXPECT_EQ(exact.score, 10);
    EXPECT_EQ(exact.move, MOVE_A);
    EXPECT_EQ(exact.eval, 20);
    EXPECT_EQ(exact.generation, 9);
    EXPECT_EQ(exact.bound, BOUND_EXACT);
    EXPECT_EQ(exact.pvNode, 1);

    EXPECT_EQ(slot(5, 1).key32, 2u);
    EXPECT_EQ(slot(5, 1).bound, BOUND_UPPER);
    EXPECT_EQ(slot(5, 1).move, MOVE_NONE);
    EXPECT_EQ(slot(5, 2).bound, 7);
    EXPECT_EQ(slot(5, 2).score, -31995);
    EXPECT_EQ(slot(5, 2).eval, EVAL_NONE);

    const TTEntry& evalOnly = slot(5, 3);
    EXPECT_EQ(evalOnly.depth, DEPTH_EVAL_ONLY);
    EXPECT_EQ(evalOnly.score, 0);
    EXPECT_EQ(evalOnly.bound, BOUND_NONE);
    EXPECT_EQ(evalOnly.eval, -44);
    TTEntry entry;
    ASSERT_TRUE(table.probe(keyIn(5, 4), entry));
    EXPECT_FALSE(hasSearchResult(entry));
    ASSERT_TRUE(table.probe(keyIn(5, 2), entry));
    EXPECT_TRUE(hasSearchResult(entry));
    EXPECT_FALSE(table.probe(keyIn(5, 5), entry));  // same cluster, other position
    EXPECT_FALSE(table.probe(keyIn(6, 1), entry));  // same key32, other cluster
}

TEST_F(TranspositionTableTest, FullClusterGivesUpTheLeastValuableEntry) {
    struct Occupant {
        int depth, generation, pvNode;
    };
    struct Case {
        const char* what;
        Occupant occupants[4];
        int victim;
    };
    const Case cases[] = {
        {"shallowest, earliest on a tie", {{10, 3, 0}, {4, 3, 0}, {4, 3, 0}, {20, 3, 0}}, 1},
        {"one generation outweighs 23 half plies", {{30, 3, 0}, {10, 3, 0}, {33, 2, 0}, {40, 3, 0}}, 2},
        {"a PV entry is worth 4 half plies", {{8, 3, 1}, {9, 3, 0}, {12, 3, 1}, {11, 3, 0}}, 1},
        {"an evaluation-only entry goes first", {{2, 3, 0}, {2, 3, 0}, {2, 3, 0}, {-99, 3, 1}}, 3},
        {"equal values: entry 0", {{5, 3, 0}, {5, 3, 0}, {5, 3, 0}, {5, 3, 0}}, 0},
    };
    for (const Case& c : cases) {
        table.clear();
        table.generation = 4;
        for (int i = 0; i < 4; i++) {
            TTEntry& e = slot(9, i);
            e = TTEntry{uint32_t(100 + i),
                        7,
                        MOVE_A,
                        0,
                        uint16_t(c.occupants[i].generation),
                        int8_t(c.occupants[i].depth),
                        BOUND_LOWER,
                        1,
                        uint8_t(c.occupants[i].pvNode)};
        }
        table.storeUpperBound(keyIn(9, 555), 1, -5, 6, 0);
        for (int i = 0; i < 4; i++) {
            if (i == c.victim) {
                const TTEntry& e = slot(9, i);
                EXPECT_EQ(e.key32, 555u) << c.what;
                EXPECT_EQ(e.move, MOVE_NONE) << c.what;  // nothing of the old occupant survives
                EXPECT_EQ(e.busy, 0) << c.what;
                EXPECT_EQ(e.generation, 4) << c.what;
            } else {
                EXPECT_EQ(slot(9, i).key32, uint32_t(100 + i)) << c.what << ", entry " << i;
            }
        }
    }
}

// What a store does to an entry that already holds the position.
enum class Kind { Eval, Lower, Upper, Exact, Final };
enum class Outcome {
    Kept,       // only eval changes
    Refreshed,  // eval, generation and (lower bounds) move change
    Replaced,   // the new result is stored
};

struct UpdateCase {
    const char* what;
    uint8_t oldBound;
    int oldDepth;
    int16_t oldScore;
    bool analysis;
    Kind kind;
    int depth;
    int16_t score;
    Move move;
    Outcome outcome;
    Move expectedMove;
};

constexpr Move OLD = MOVE_A;
constexpr Move NEW = MOVE_B;

const UpdateCase updateCases[] = {
    // Lower bounds: more than 6 plies shallower never replaces; exactly 6
    // replaces unless the stored result is tighter; less always replaces.
    {"lower d10 on upper d30", BOUND_UPPER, 30, 10, false, Kind::Lower, 10, 50, NEW, Outcome::Refreshed, NEW},
    {"lower d10 without move", BOUND_UPPER, 30, 10, false, Kind::Lower, 10, 50, 0, Outcome::Refreshed, OLD},
    {"lower d18 on upper d30", BOUND_UPPER, 30, 10, false, Kind::Lower, 18, 50, NEW, Outcome::Replaced, NEW},
    {"lower d18 on exact d30", BOUND_EXACT, 30, 10, false, Kind::Lower, 18, 50, NEW, Outcome::Refreshed, NEW},
    {"lower d18 on higher lower d30", BOUND_LOWER, 30, 60, false, Kind::Lower, 18, 50, NEW,
     Outcome::Refreshed, NEW},
    {"lower d18 on lower lower d30", BOUND_LOWER, 30, 40, false, Kind::Lower, 18, 50, NEW, Outcome::Replaced,
     NEW},
    {"lower d19 on exact d30", BOUND_EXACT, 30, 10, false, Kind::Lower, 19, 50, NEW, Outcome::Replaced, NEW},
    {"lower d20 without move", BOUND_EXACT, 20, 10, false, Kind::Lower, 20, 50, 0, Outcome::Replaced, OLD},
    {"lower on final", BOUND_FINAL, 30, 10, false, Kind::Lower, 10, 50, NEW, Outcome::Refreshed, NEW},
    {"lower d18 on exact d30, analysis", BOUND_EXACT, 30, 10, true, Kind::Lower, 18, 50, NEW, Outcome::Kept,
     OLD},
    {"lower d18 on upper d30, analysis", BOUND_UPPER, 30, 10, true, Kind::Lower, 18, 50, NEW,
     Outcome::Replaced, NEW},
    // Upper bounds mirror the scores and never touch the move.
    {"upper d10 on lower d30", BOUND_LOWER, 30, 10, false, Kind::Upper, 10, -5, 0, Outcome::Refreshed, OLD},
    {"upper d18 on lower d30", BOUND_LOWER, 30, 10, false, Kind::Upper, 18, -5, 0, Outcome::Replaced, OLD},
    {"upper d18 on exact d30", BOUND_EXACT, 30, 10, false, Kind::Upper, 18, -5, 0, Outcome::Refreshed, OLD},
    {"upper d18 on lower upper d30", BOUND_UPPER, 30, -20, false, Kind::Upper, 18, -5, 0, Outcome::Refreshed,
     OLD},
    {"upper d18 on higher upper d30", BOUND_UPPER, 30, 10, false, Kind::Upper, 18, -5, 0, Outcome::Replaced,
     OLD},
    {"upper d18 on lower none d30", BOUND_NONE, 30, -20, false, Kind::Upper, 18, -5, 0, Outcome::Refreshed,
     OLD},
    {"upper d2 on eval only", BOUND_NONE, -99, 0, false, Kind::Upper, 2, -5, 0, Outcome::Replaced, OLD},
    // Exact and final results replace anything, unless analysis protects a
    // deeper exact entry.
    {"exact d2 on lower d30", BOUND_LOWER, 30, 10, false, Kind::Exact, 2, 33, NEW, Outcome::Replaced, NEW},
    {"exact without move", BOUND_LOWER, 30, 10, false, Kind::Exact, 2, 33, 0, Outcome::Replaced, OLD},
    {"exact d2 on exact d30, analysis", BOUND_EXACT, 30, 10, true, Kind::Exact, 2, 33, NEW, Outcome::Kept,
     OLD},
    {"exact d30 on exact d30, analysis", BOUND_EXACT, 30, 10, true, Kind::Exact, 30, 33, NEW,
     Outcome::Replaced, NEW},
    {"exact d2 on lower d30, analysis", BOUND_LOWER, 30, 10, true, Kind::Exact, 2, 33, NEW, Outcome::Replaced,
     NEW},
    {"final d2 on lower d30", BOUND_LOWER, 30, 10, false, Kind::Final, 2, -31990, 0, Outcome::Replaced, OLD},
    {"final d2 on final d30, analysis", BOUND_FINAL, 30, 10, true, Kind::Final, 2, -31990, 0, Outcome::Kept,
     OLD},
    // Evaluations: entries at -87 or deeper are only kept young, except a
    // non-exact one at exactly -87.
    {"eval on upper d10", BOUND_UPPER, 10, 10, false, Kind::Eval, 0, 0, 0, Outcome::Refreshed, OLD},
    {"eval on exact d-87", BOUND_EXACT, -87, 10, false, Kind::Eval, 0, 0, 0, Outcome::Refreshed, OLD},
    {"eval on lower d-86", BOUND_LOWER, -86, 10, false, Kind::Eval, 0, 0, 0, Outcome::Refreshed, OLD},
    {"eval on lower d-87", BOUND_LOWER, -87, 10, false, Kind::Eval, 0, 0, 0, Outcome::Replaced, OLD},
    {"eval on lower d-88", BOUND_LOWER, -88, 10, false, Kind::Eval, 0, 0, 0, Outcome::Replaced, OLD},
    {"eval on exact d10, analysis", BOUND_EXACT, 10, 10, true, Kind::Eval, 0, 0, 0, Outcome::Kept, OLD},
};

TEST_F(TranspositionTableTest, StoreOnTheSamePositionFollowsTheReplacementRules) {
    const Key key = keyIn(321, 0x5EEDF00D);
    for (const UpdateCase& c : updateCases) {
        table.clear();
        // The stored entry sits behind another position, so the scan must
        // find it by key; it is busy, which no update may change.
        slot(321, 0) = TTEntry{0x11111111, 1, 0, 0, 1, 4, BOUND_EXACT, 0, 0};
        slot(321, 1) = TTEntry{0x5EEDF00D, c.oldScore, OLD, -1, 1, int8_t(c.oldDepth), c.oldBound, 1, 0};
        table.generation = 2;
        table.analysisMode = c.analysis;
        const int16_t eval = 77;
        switch (c.kind) {
            case Kind::Eval:
                table.storeEval(key, eval, 1);
                break;
            case Kind::Lower:
                table.storeLowerBound(key, c.depth, c.score, c.move, eval, 1);
                break;
            case Kind::Upper:
                table.storeUpperBound(key, c.depth, c.score, eval, 1);
                break;
            case Kind::Exact:
                table.storeExact(key, c.depth, c.score, c.move, eval, 1);
                break;
            case Kind::Final:
                table.storeFinal(key, c.depth, c.score, eval, 1);
                break;
        }
        const TTEntry& e = slot(321, 1);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(slot(321, 2).key32, 0u);  // no duplicate written
        EXPECT_EQ(e.key32, 0x5EEDF00Du);
        EXPECT_EQ(e.eval, eval);  // every kind takes the new evaluation
        EXPECT_EQ(e.busy, 1);
        EXPECT_EQ(e.move, c.expectedMove);
        EXPECT_EQ(e.generation, c.outcome == Outcome::Kept ? 1 : 2);
        if (c.outcome != Outcome::Replaced) {
            EXPECT_EQ(e.depth, c.oldDepth);
            EXPECT_EQ(e.score, c.oldScore);
            EXPECT_EQ(e.bound, c.oldBound);
            EXPECT_EQ(e.pvNode, 0);
            continue;
        }
        constexpr uint8_t newBound[] = {BOUND_NONE, BOUND_LOWER, BOUND_UPPER, BOUND_EXACT, BOUND_FINAL};
        EXPECT_EQ(e.bound, newBound[int(c.kind)]);
        EXPECT_EQ(e.depth, c.kind == Kind::Eval ? DEPTH_EVAL_ONLY : c.depth);
        EXPECT_EQ(e.score, c.kind == Kind::Eval ? 0 : c.score);
        EXPECT_EQ(e.pvNode, 1);
    }
}

TEST_F(TranspositionTableTest, GenerationAdvancesOnlyForANewRoot) {
    table.advanceGeneration(0x1111);
    EXPECT_EQ(table.generation, 1);
    table.advanceGeneration(0x1111);  // ponder or analysis restart of the same root
    EXPECT_EQ(table.generation, 1);
    table.advanceGeneration(0x2222);
    EXPECT_EQ(table.generation, 2);
    table.generation = 65535;
    table.advanceGeneration(0x3333);
    EXPECT_EQ(table.generation, 0);  // 16 bits, wrapping
}

TEST_F(TranspositionTableTest, HashfullCountsCurrentEntriesOfTheFirstThousand) {
    EXPECT_EQ(table.hashfull(), 0);  // empty entries never count, though their generation is current
    table.advanceGeneration(0xAAAA);
    // Half of every sampled cluster, plus a full cluster beyond the sample.
    for (uint64_t c = 0; c < 250; c++)
        for (uint32_t k = 1; k <= 2; k++) table.storeExact(keyIn(c, k), 4, 0, 0, 0, 0);
    for (uint32_t k = 1; k <= 4; k++) table.storeExact(keyIn(250, k), 4, 0, 0, 0, 0);
    EXPECT_EQ(table.hashfull(), 500);
    for (uint64_t c = 0; c < 25; c++) table.storeLowerBound(keyIn(c, 3), 4, 0, 0, 0, 0);
    EXPECT_EQ(table.hashfull(), 525);

    table.advanceGeneration(0xBBBB);  // the next search: old entries count as free
    EXPECT_EQ(table.hashfull(), 0);
    table.storeEval(keyIn(0, 1), 5, 0);  // a refreshed entry is current again
    EXPECT_EQ(table.hashfull(), 1);
}

TEST_F(TranspositionTableTest, BusyFlagMarksOnlyExistingEntries) {
    const Key key = keyIn(40, 7);
    table.setBusy(key, 1);  // no entry: nothing happens, nothing is created
    EXPECT_EQ(slot(40, 0).key32, 0u);

    table.storeLowerBound(key, 6, 12, MOVE_A, 0, 0);
    table.setBusy(key, 1);
    TTEntry entry;
    ASSERT_TRUE(table.probe(key, entry));
    EXPECT_EQ(entry.busy, 1);
    table.storeExact(key, 8, 14, MOVE_A, 0, 0);  // results written meanwhile keep the mark
    ASSERT_TRUE(table.probe(key, entry));
    EXPECT_EQ(entry.busy, 1);
    table.setBusy(key, 0);
    ASSERT_TRUE(table.probe(key, entry));
    EXPECT_EQ(entry.busy, 0);
}

TEST_F(TranspositionTableTest, ResizeAndClearStartFromAZeroedTable) {
    table.generation = 12;
    table.tableDirty = 1;
    std::memset(static_cast<void*>(table.clusters), 0xA5, table.sizeInBytes());
    table.resize(2);  // whatever memory the allocator hands out must read as zeros
    EXPECT_EQ(table.clusterCount, 32768u);
    EXPECT_EQ(nonZeroBytes(table), 0u);
    EXPECT_EQ(table.generation, 0);
    EXPECT_EQ(table.tableDirty, 0);

    table.generation = 12;
    table.tableDirty = 1;
    table.storeExact(keyIn(3, 3), 4, 0, MOVE_A, 0, 0);
    table.clear();
    EXPECT_EQ(table.generation, 0);
    EXPECT_EQ(table.tableDirty, 0);
    TTEntry entry;
    EXPECT_FALSE(table.probe(keyIn(3, 3), entry));
}

// Several zero-fill threads must between them cover every byte, including the
// remainder when the table does not split evenly.
TEST_F(TranspositionTableTest, ClearWithSeveralThreadsZeroesEveryByte) {
    const int savedThreads = threadsOption;
    for (int threads : {3, 7}) {
        std::memset(static_cast<void*>(table.clusters), 0xA5, table.sizeInBytes());
        threadsOption = threads;
        table.clear();
        EXPECT_EQ(nonZeroBytes(table), 0u) << threads << " threads";
    }
    threadsOption = savedThreads;
}

// "Hash" during a search must not free the block the searchers are using.
TEST(TranspositionTableOption, ResizeDuringASearchWaitsForTheNextGo) {
    transpositionTable.resize(1);
    resizeTTFromOption(2, true);
    EXPECT_EQ(transpositionTable.clusterCount, 16384u);
    applyPendingTTResize();
    EXPECT_EQ(transpositionTable.clusterCount, 32768u);
    applyPendingTTResize();  // only once
    EXPECT_EQ(transpositionTable.clusterCount, 32768u);
    resizeTTFromOption(0, false);  // releases at once when idle
    EXPECT_EQ(transpositionTable.rawBlock, nullptr);
    transpositionTable.release();
}

}  // namespace
