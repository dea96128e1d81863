// The search threads: the end-of-search barrier on its own, the pool's
// records and tables across resizes, workers searching in this process (they
// stop by themselves at a mate), and the real binary with several threads:
// legal answers, "Threads" changes at rest and during a search, and "quit"
// or the end of input in the middle of a multi-threaded search.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../board/board_test_util.h"
#include "../uci/engine_process.h"
#include "control/think.h"
#include "control/thread_pool.h"
#include "control/time_budget.h"
#include "core/engine_state.h"
#include "eval/eval_hash_tables.h"
#include "eval/eval_weights.h"
#include "eval/kpk_bitbase.h"
#include "eval/network/network_manager.h"
#include "eval/special_material.h"
#include "search/root_search.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"
#include "uci/command_loop.h"
#include "uci/option_table.h"

namespace {

using namespace std::chrono_literals;

// Runs `body` on another thread and tells whether it finished within the
// time, so that a barrier bug fails the test instead of hanging it (a body
// that hangs is left behind; the test has failed by then).
bool finishesWithin(std::chrono::milliseconds limit, std::function<void()> body) {
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();
    std::thread([finished, body = std::move(body)] {
        body();
        finished->set_value();
    }).detach();
    return done.wait_for(limit) == std::future_status::ready;
}

// ---------------------------------------------------------------------------
// The barrier

TEST(ThreadBarrier, ASingleThreadPassesAtOnce) {
    SearchBarrier barrier;
    barrier.arm(1);
    EXPECT_TRUE(finishesWithin(10s, [&] { barrier.wait(); }));
    EXPECT_EQ(barrier.pending(), 0);
}

// The waiter is held until the last worker arrives, however the arrivals
// interleave with its own; extra arrivals never push the count below zero.
TEST(ThreadBarrier, WaitReturnsOnlyAfterTheLastArrival) {
    SearchBarrier barrier;
    barrier.arm(3);
    barrier.arrive();
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        barrier.wait();
        passed.store(true);
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(passed.load());
    EXPECT_EQ(barrier.pending(), 1);
    barrier.arrive();
    waiter.join();
    EXPECT_TRUE(passed.load());
    barrier.arrive();
    EXPECT_EQ(barrier.pending(), 0);
}

// Re-arming moves to a new generation and releases a waiter of the old one.
TEST(ThreadBarrier, ReArmingReleasesAnOldWaiter) {
    SearchBarrier barrier;
    barrier.arm(2);
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        barrier.wait();
        passed.store(true);
    });
    while (barrier.pending() == 2) std::this_thread::yield();
    barrier.arm(2);
    waiter.join();
    EXPECT_TRUE(passed.load());
    EXPECT_EQ(barrier.pending(), 2);
}

// The pool's own rhythm, many times over: arm for everyone, wake the
// workers, wait; no round may end before each worker has done its part.
TEST(ThreadBarrier, ManyRoundsWithSeveralWorkers) {
    constexpr int WORKERS = 3, ROUNDS = 300;
    SearchBarrier barrier;
    std::mutex mutex;
    std::condition_variable wake;
    int round = 0;
    std::atomic<int> work[WORKERS] = {};
    std::vector<std::thread> workers;
    for (int w = 0; w < WORKERS; w++)
        workers.emplace_back([&, w] {
            for (int seen = 0; seen < ROUNDS; seen++) {
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    wake.wait(lock, [&] { return round > seen; });
                }
                work[w].fetch_add(1);
                barrier.arrive();
            }
        });
    bool ok = finishesWithin(60s, [&] {
        for (int r = 1; r <= ROUNDS; r++) {
            barrier.arm(WORKERS + 1);
            {
                std::lock_guard<std::mutex> lock(mutex);
                round = r;
            }
            wake.notify_all();
            barrier.wait();
            for (int w = 0; w < WORKERS; w++) EXPECT_EQ(work[w].load(), r) << "worker " << w;
        }
    });
    ASSERT_TRUE(ok);
    for (std::thread& t : workers) t.join();
}

// ---------------------------------------------------------------------------
// The pool in this process

class ThreadPool : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        initBoardTables();
        fillRule50Scale();
        buildOptionTable();
        initMaterialWeights();
        buildSpecialMaterialTable();
        buildKpkBitbase();
        initSearchTables();
        weightsFile.clear();
        loadNetwork();
        transpositionTable.resize(16);
        processOneCommand();
    }

    void SetUp() override {
        savedThreads = threadsOption;
        savedTableMemory = tableMemoryMb;
        transpositionTable.clear();
        resetSearchState();
        searchStartTime = 0;
        setupDeadlines(NO_TIME_LIMIT, NO_TIME_LIMIT, 0);
        quietSearch = true;
    }

    void TearDown() override {
        threadsOption = savedThreads;
        tableMemoryMb = savedTableMemory;
        releaseThreadPool();
        resizeThreads();
    }

    int32_t savedThreads = 1, savedTableMemory = 64;
};

// Growing the pool makes one record per thread, each with its own tables of
// one shared size; shrinking drops the extra records; repeated stops are
// harmless.
TEST_F(ThreadPool, ResizeMakesAndDropsRecordsWithTheirTables) {
    threadsOption = 3;
    resizeThreads();
    ASSERT_EQ(activeThreads.load(), 3);
    for (int i = 0; i < 3; i++) {
        ASSERT_NE(searchThreads[i], nullptr) << i;
        EXPECT_EQ(searchThreads[i]->index, i);
        ASSERT_NE(searchThreads[i]->materialTable, nullptr) << i;
        ASSERT_NE(searchThreads[i]->pawnTable, nullptr) << i;
        EXPECT_EQ(searchThreads[i]->pawnTable->entryCount, pawnHashEntryCount(tableMemoryMb, 3)) << i;
    }
    EXPECT_NE(searchThreads[1]->pawnTable, searchThreads[2]->pawnTable);
    EXPECT_FALSE(threadSettingsChanged());
    tableMemoryMb = tableMemoryMb / 2;
    EXPECT_TRUE(threadSettingsChanged());
    resizeThreads();
    EXPECT_EQ(searchThreads[2]->pawnTable->entryCount, pawnHashEntryCount(tableMemoryMb, 3));

    threadsOption = 1;
    resizeThreads();
    EXPECT_EQ(activeThreads.load(), 1);
    EXPECT_EQ(searchThreads[1], nullptr);
    EXPECT_EQ(searchThreads[2], nullptr);
    stopWorkers();
    stopWorkers();
    // With one thread there is nobody to wait for.
    EXPECT_TRUE(finishesWithin(10s, [] {
        startWorkers();
        finishWorkerSearch();
    }));
}

// Workers search their own copies of the root without thread 0: each finds
// the mate in one, stops iterating on the mate score by itself (so the wait
// returns without any stop flag) and goes back to idle.
TEST_F(ThreadPool, WorkersFindTheMateAndStopByThemselves) {
    threadsOption = 3;
    resizeThreads();
    Position game = fromFen("6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1");
    rootPosition = game;
    std::vector<Move> moves = legalMoves(game);
    for (size_t i = 0; i < moves.size(); i++) rootMoves[i] = {moves[i], 0, 0};
    rootMoves[moves.size()] = {MOVE_NONE, 0, 0};
    rootMoveCount = int32_t(moves.size());

    for (int search = 0; search < 2; search++) {
        startWorkers();
        ASSERT_TRUE(finishesWithin(60s, [] { waitWorkers(); }));
        for (int i = 1; i < 3; i++) {
            SearchThread& worker = *searchThreads[i];
            EXPECT_GT(worker.nodes.load(), 0u) << i;
            EXPECT_EQ(worker.iteration, 0) << i;
            RootSearchState& state = rootSearchState(i);
            int last = 1;
            while (last < MAX_ITERATIONS - 1 && std::abs(state.iterationScore[last]) < MATE_BOUND) last++;
            ASSERT_LT(last, MAX_ITERATIONS - 1) << "worker " << i << " found no mate";
            EXPECT_EQ(state.iterationScore[last], MATE_SCORE - 1) << i;
            EXPECT_EQ(moveText(state.iterationPv[last][0]), "a1a8") << i;
        }
        finishWorkerSearch();
    }
}

// ---------------------------------------------------------------------------
// The real binary

constexpr int SEARCH_TIMEOUT_MS = EngineProcess::SEARCH_TIMEOUT_MS;

class ProtocolThreads : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine.startWithNetwork()); }

    // Whether a line starting with `prefix` was read since line `from`.
    bool seenSince(size_t from, const std::string& prefix) {
        const std::vector<std::string>& all = engine.linesRead();
        return std::any_of(all.begin() + long(from), all.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    // Sends "isready" and waits for the answer, so that everything sent
    // before has been carried out.
    void sync() { ASSERT_TRUE(engine.send("isready") && engine.waitForLine("readyok", SEARCH_TIMEOUT_MS)); }

    EngineProcess engine;
};

// With two and with three threads (the busy flags of the tree search only
// come into play beyond two), a depth search and an infinite search that is
// stopped both answer with a legal move.
TEST_F(ProtocolThreads, SearchesWithSeveralThreadsAnswerLegally) {
    for (int threads : {2, 3}) {
        engine.send("setoption name Threads value " + std::to_string(threads));
        ASSERT_TRUE(engine.waitForLine("info string Threads now set to " + std::to_string(threads)));
        engine.send("position startpos moves e2e4 c7c5");
        engine.send("go depth 9");
        std::optional<std::string> best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
        ASSERT_TRUE(best.has_value());
        EXPECT_TRUE(legalBestMove(*best, START_FEN, {"e2e4", "c7c5"})) << *best;

        engine.send("go infinite");
        ASSERT_TRUE(engine.waitForPrefix("info depth 6", SEARCH_TIMEOUT_MS).has_value());
        engine.send("stop");
        best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
        ASSERT_TRUE(best.has_value());
        EXPECT_TRUE(legalBestMove(*best, START_FEN, {"e2e4", "c7c5"})) << *best;
    }
}

// At rest a new count is applied (and announced) at once, an unchanged one
// silently; during a search it waits for the next "go", which announces it
// before its first iteration.
TEST_F(ProtocolThreads, ThreadCountChangesAtRestAndDuringASearch) {
    engine.send("setoption name Threads value 2");
    ASSERT_TRUE(engine.waitForLine("info string Threads now set to 2"));
    size_t mark = engine.linesRead().size();
    engine.send("setoption name Threads value 2");
    sync();
    EXPECT_FALSE(seenSince(mark, "info string Threads"));

    engine.send("position startpos");
    engine.send("go infinite");
    ASSERT_TRUE(engine.waitForPrefix("info depth 4", SEARCH_TIMEOUT_MS).has_value());
    mark = engine.linesRead().size();
    engine.send("setoption name Threads value 3");
    sync();
    EXPECT_FALSE(seenSince(mark, "info string Threads"));
    engine.send("stop");
    ASSERT_TRUE(engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS).has_value());
    EXPECT_FALSE(seenSince(mark, "info string Threads"));

    engine.send("go depth 3");
    std::optional<std::string> first = engine.readLine(SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, "info string Threads now set to 3");
    EXPECT_TRUE(engine.waitForPrefix("info depth 1", SEARCH_TIMEOUT_MS).has_value());
    std::optional<std::string> best = engine.waitForPrefix("bestmove ", SEARCH_TIMEOUT_MS);
    ASSERT_TRUE(best.has_value());
    EXPECT_TRUE(legalBestMove(*best)) << *best;

    // Back to one thread, at rest.
    engine.send("setoption name Threads value 1");
    ASSERT_TRUE(engine.waitForLine("info string Threads now set to 1"));
}

// "quit" or the end of input in the middle of a two-thread search ends the
// program at the search's next poll, with status 0 and no "bestmove".
TEST_F(ProtocolThreads, QuitOrEndOfInputDuringASearchExitsZero) {
    for (bool endOfInput : {false, true}) {
        SCOPED_TRACE(endOfInput ? "end of input" : "quit");
        if (endOfInput) {
            engine.kill();
            ASSERT_TRUE(engine.start());
        }
        engine.send("setoption name Threads value 2");
        ASSERT_TRUE(engine.waitForLine("info string Threads now set to 2"));
        engine.send("go infinite");
        ASSERT_TRUE(engine.waitForPrefix("info depth 6", SEARCH_TIMEOUT_MS).has_value());
        if (endOfInput)
            engine.closeInput();
        else
            engine.send("quit");
        EXPECT_EQ(engine.waitForExit(SEARCH_TIMEOUT_MS), 0);
        EXPECT_EQ(engine.errorText(), "");
        size_t none = 0;
        EXPECT_FALSE(seenSince(none, "bestmove"));
    }
}

}  // namespace
