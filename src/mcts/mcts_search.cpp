#include "mcts/mcts_search.h"

#include <algorithm>
#include <cstring>

#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "mcts/playout.h"
#include "mcts/tree_reuse.h"
#include "platform/clock.h"
#include "search/node_search.h"
#include "search/periodic_check.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_thread.h"

namespace {

// The full-window search of the root that fills the table before the tree
// is built: 11 plies.
constexpr int ROOT_TABLE_SEARCH_DEPTH = 22;
// The tree starts with this many visits at its root, so that the root,
// like any node on its third visit, counts as expanded.
constexpr uint64_t NEW_ROOT_VISITS = 3;

bool stopped(const Position& pos) {
    return searchThreads[pos.threadIndex]->stop.load(std::memory_order_relaxed);
}

// The store keeps room for every thread's expansion under way.
bool storeNearlyFull() {
    return mctsNodeCount.load(std::memory_order_relaxed) >
           mctsCapacity - MCTS_NODES_KEPT_FREE_PER_THREAD * mctsSettings.threadCount;
}

// The full-window search of the root fills the table for the leaf searches.
// Its best move goes to the front of the root moves: a new root's children
// follow that order, and among children the search never got round to
// visiting again (a short search) the first one is played.
void fillTableFromRoot(Position& root) {
    Move pv[PV_BUFFER_SIZE];
    searchThreads[root.threadIndex]->iteration = ROOT_TABLE_SEARCH_DEPTH / 2;
    windowSearch(root, -MATE_SCORE, MATE_SCORE, ROOT_TABLE_SEARCH_DEPTH, 0, pv);
    for (int i = 1; i < rootMoveCount && pv[0] != MOVE_NONE; i++)
        if (Move(rootMoves[i].move) == pv[0]) {
            std::rotate(rootMoves, rootMoves + i, rootMoves + i + 1);
            break;
        }
}

// A fresh tree: the root and one child per root move, each valued by a
// leaf search.
void buildNewRoot(Position& root) {
    MctsNode& node = mctsNode(0);
    node = MctsNode{};
    node.visits = NEW_ROOT_VISITS;
    node.key = root.key;
    mctsNodeCount.store(0);
    mctsSelDepth.store(0);
    Move moves[MAX_ROOT_MOVES];
    int count = 0;
    for (; count < rootMoveCount; count++) moves[count] = Move(rootMoves[count].move);
    createChildren(0, root, 0, moves, count);
}

// The early stop, from a quarter of the target time on: at the present rate
// of playouts, can any other root child still overtake the most visited
// one in the time left (counted generously)? If none can, the search stops;
// otherwise the children that cannot are no longer explored. The leader is
// never excluded, and nothing is decided while pondering, when the time
// left is unknown.
bool stopsEarly(double targetTime) {
    double now = elapsedSeconds();
    if (moveTimeLimit != 0 || now <= mctsCheckpoint || pondering.load()) return false;
    uint64_t first = 0, second = 0;
    int32_t leader = 0, children = 0;
    for (int32_t c = loadField(mctsNode(0).firstChild); c; c = mctsNode(c).nextSibling, children++) {
        uint64_t visits = loadField(mctsNode(c).visits);
        if (!leader || visits > first) {
            second = leader ? first : second;
            first = visits;
            leader = c;
        } else if (visits > second) {
            second = visits;
        }
    }
    double elapsed = std::max(now - searchStartTime, 0.001);
    int64_t rate = int64_t(double(int64_t(loadField(mctsNode(0).visits)) - startVisits) / elapsed);
    int64_t remaining = int64_t(0.25 * (targetTime - elapsed) * 3 * double(rate));
    if (children > 1 && int64_t(first - second) > remaining) return true;
    int j = 0;
    for (int32_t c = loadField(mctsNode(0).firstChild); c; c = mctsNode(c).nextSibling, j++)
        if (c != leader && int64_t(first - loadField(mctsNode(c).visits)) > remaining)
            rootExcluded[j].store(1, std::memory_order_relaxed);
    return false;
}

}  // namespace

int mctsThreadCount() {
    return std::min(activeThreads.load(), MCTS_MAX_THREADS);
}

void mctsSearch(Position& root, double targetTime, int32_t depthLimit, const WorkerControl& workers) {
    SearchThread& main = *searchThreads[0];

    // Step 1. The table, and the constants of this search. No root move
    // list is walked, so the time rule for the first root move never applies.
    currentRootMoveNumber = 0;
    fillTableFromRoot(root);
    setMctsSession(mctsThreadCount(), targetTime, depthLimit);
    preparePlayoutStacks(mctsSettings.threadCount);

    // Step 2. The kept subtree, or a new root.
    for (auto& excluded : rootExcluded) excluded.store(0, std::memory_order_relaxed);
    // The playout rate counts from here: a new root's visits by its
    // children are no playouts.
    if (!reuseTree(root, rootMoveCount)) {
        buildNewRoot(root);
        startVisits = int64_t(mctsNode(0).visits);
    }

    // Steps 3 and 4. The workers join in.
    treeSearchRunning.store(true);
    workers.start();

    // Step 5. Thread 0's playouts until a stop rule fires.
    while (!stopped(root)) {
        playRootPlayout(root);
        periodicCheck();
        if (stopped(root) || storeNearlyFull()) break;
        if (stopsEarly(targetTime)) break;
    }

    // Step 6. Everyone stops.
    main.stop.store(true);
    workers.finish();
    treeSearchRunning.store(false);
}

void runWorkerPlayouts(Position& root) {
    while (!stopped(root) && !storeNearlyFull()) playRootPlayout(root);
}
