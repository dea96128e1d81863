#include "control/thread_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "control/think.h"
#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "mcts/mcts_search.h"
#include "mcts/mcts_session.h"
#include "platform/processor_topology.h"
#include "platform/threads.h"
#include "search/root_search.h"
#include "search/search_tables.h"
#include "search/search_thread.h"

void SearchBarrier::arm(int count) {
    std::lock_guard<std::mutex> lock(mutex);
    generation++;
    if (counter > 0) condition.notify_all();
    counter = count;
}

void SearchBarrier::arrive() {
    std::lock_guard<std::mutex> lock(mutex);
    if (counter > 0 && --counter == 0) condition.notify_all();
}

void SearchBarrier::wait() {
    std::unique_lock<std::mutex> lock(mutex);
    if (counter > 0 && --counter == 0) {
        condition.notify_all();
        return;
    }
    uint64_t round = generation;
    condition.wait(lock, [&] { return counter == 0 || generation != round; });
}

int SearchBarrier::pending() {
    std::lock_guard<std::mutex> lock(mutex);
    return counter;
}

namespace {

// Everything the workers share with thread 0. Allocated once and never
// freed: static destructors must not take the mutex or the thread objects
// away from a worker that an abnormal exit left running.
struct WorkerPool {
    // Guards startFlag, searchRunning and exitWorkers; the condition wakes
    // parked workers. A flag is always set under the mutex, so a worker
    // between its check and its wait cannot miss the notification.
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool startFlag[MAX_THREADS] = {};
    bool searchRunning = false;
    bool exitWorkers = false;

    Thread threads[MAX_THREADS];
    int workerCount = 0;  // workers 1 .. workerCount are started
    SearchBarrier barrier;
    int builtTableMemory = -1;  // "Table Memory" the tables were sized for

    // Binding to NUMA nodes, decided when the workers are created; the
    // workers only read these.
    bool bindToNodes = false;
    ProcessorTopology topology;
    NumaNodeList nodeList;
};

WorkerPool& pool = *new WorkerPool;

// Beyond 11 threads the machine is likely to have several nodes worth
// keeping apart. Threads above 63 go to the partner node (node XOR 1) when
// there is one, spreading the largest pools over a node pair.
constexpr int BIND_ABOVE_THREADS = 11;

void bindWorkerToNode(int index) {
    int node = numaNodeForThread(pool.nodeList, index);
    if (node < 0) return;
    if (index > 63 && (node ^ 1) < pool.topology.nodeCount) node ^= 1;
    bindCurrentThreadToNode(pool.topology, node);
}

// One search on worker `thread`: its own copy of the root and root moves,
// fresh killers and counter moves, then iterative deepening until thread 0
// raises the stop flag, a mate score is found or iteration 99 is done.
// Workers do not watch the clock: thread 0 alone ends the search. In a
// Monte-Carlo search the odd-numbered workers run playouts instead, and
// workers beyond the tree search's thread limit sit it out.
void searchAsWorker(SearchThread& thread) {
    if (mctsActive && thread.index >= MCTS_MAX_THREADS) return;
    Position& root = prepareThreadRoot(thread, rootPosition, rootMoves);
    std::memset(thread.history.killerMoves, 0, sizeof thread.history.killerMoves);
    std::memset(thread.history.counterMoves, 0, sizeof thread.history.counterMoves);
    if (mctsActive && thread.index % 2 == 1) {
        runWorkerPlayouts(root);
        return;
    }
    RootSearchState& state = rootSearchState(thread.index);
    state.iterationScore[0] = -SCORE_NONE;
    state.iterationScore[1] = state.iterationScore[0];
    for (int i = 1;; i++) {
        thread.iteration = i;
        searchIteration(root, i);
        if (thread.stop.load(std::memory_order_relaxed)) return;
        if (i > 98 || std::abs(state.iterationScore[i]) >= MATE_BOUND) return;
        state.iterationScore[i + 1] = state.iterationScore[i];
    }
}

// The life of worker `index`: parked until its start flag is raised, then
// either a search (ending with an arrival at the barrier) or the exit.
void workerLoop(int index) {
    if (pool.bindToNodes) bindWorkerToNode(index);
    SearchThread& thread = *searchThreads[index];
    for (;;) {
        bool search;
        {
            std::unique_lock<std::mutex> lock(pool.wakeMutex);
            pool.wake.wait(lock, [&] { return pool.startFlag[index]; });
            pool.startFlag[index] = false;
            if (pool.exitWorkers) return;
            search = pool.searchRunning;
        }
        thread.iteration = 0;
        if (!search) continue;
        searchAsWorker(thread);
        thread.iteration = 0;
        pool.barrier.arrive();
    }
}

// Raises or lowers the stop flag of every worker (not thread 0's).
void setWorkerStopFlags(bool value) {
    for (int i = 1; i < activeThreads; i++) searchThreads[i]->stop.store(value);
}

// Replaces the worker records by `count` - 1 fresh ones. The record table is
// changed under its mutex, so the input reader's stopAllThreads never sees a
// record that is being freed.
void replaceWorkerRecords(int count) {
    SearchThread* old[MAX_THREADS] = {};
    int oldCount = activeThreads;
    {
        std::lock_guard<std::mutex> lock(threadRecordsMutex);
        for (int i = 1; i < oldCount; i++) {
            old[i] = searchThreads[i];
            searchThreads[i] = nullptr;
        }
        activeThreads = 1;
    }
    for (int i = 1; i < oldCount; i++) {
        releaseEvalHashTables(*old[i]);
        delete old[i];
    }
    SearchThread* fresh[MAX_THREADS] = {};
    for (int i = 1; i < count; i++) {
        fresh[i] = new SearchThread;
        fresh[i]->index = i;
    }
    std::lock_guard<std::mutex> lock(threadRecordsMutex);
    for (int i = 1; i < count; i++) searchThreads[i] = fresh[i];
    activeThreads = count;
}

}  // namespace

bool threadSettingsChanged() {
    return threadsOption != activeThreads || tableMemoryMb != pool.builtTableMemory;
}

// The tables are allocated here on the calling thread rather than by each
// worker: they share one size (pawnHashMask), which must not be written by
// several threads at once.
void resizeThreads() {
    stopWorkers();
    int count = std::clamp(int(threadsOption), 1, MAX_THREADS);
    if (count != activeThreads) {
        replaceWorkerRecords(count);
        // The reductions and late-move counts grow with the thread count.
        rebuildSearchSettings(searchTablesMonteCarlo);
    }
    for (int i = 0; i < count; i++) allocateEvalHashTables(*searchThreads[i]);
    pool.builtTableMemory = tableMemoryMb;

    pool.bindToNodes = count > BIND_ABOVE_THREADS && numaOffset != -1;
    if (pool.bindToNodes) {
        pool.topology = readProcessorTopology();
        pool.nodeList = buildNumaNodeList(pool.topology, numaOffset);
    }
    for (int i = 1; i < count; i++) pool.threads[i].start([i] { workerLoop(i); });
    pool.workerCount = count - 1;
}

void startWorkers() {
    int count = activeThreads;
    pool.barrier.arm(count);
    if (count == 1) return;
    for (int i = 1; i < count; i++) {
        searchThreads[i]->stop.store(false);
        searchThreads[i]->nodes.store(0);
    }
    {
        std::lock_guard<std::mutex> lock(pool.wakeMutex);
        pool.searchRunning = true;
        for (int i = 1; i < count; i++) pool.startFlag[i] = true;
    }
    pool.wake.notify_all();
}

void waitWorkers() {
    pool.barrier.wait();
}

void finishWorkerSearch() {
    setWorkerStopFlags(true);
    waitWorkers();
    setWorkerStopFlags(false);
    std::lock_guard<std::mutex> lock(pool.wakeMutex);
    pool.searchRunning = false;
}

// The join is what guarantees that no worker touches shared state
// afterwards; a searching worker sees its stop flag, leaves its search,
// arrives at the barrier and then finds the exit.
void stopWorkers() {
    int workers = pool.workerCount;
    if (workers == 0) return;
    for (int i = 1; i <= workers; i++) searchThreads[i]->stop.store(true);
    {
        std::lock_guard<std::mutex> lock(pool.wakeMutex);
        pool.exitWorkers = true;
        pool.searchRunning = false;
        for (int i = 1; i <= workers; i++) pool.startFlag[i] = true;
    }
    pool.wake.notify_all();
    for (int i = 1; i <= workers; i++) pool.threads[i].join();
    std::lock_guard<std::mutex> lock(pool.wakeMutex);
    pool.exitWorkers = false;
    for (int i = 1; i <= workers; i++) pool.startFlag[i] = false;
    pool.workerCount = 0;
}

void releaseThreadPool() {
    stopWorkers();
    replaceWorkerRecords(1);
}
