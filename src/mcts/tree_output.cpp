#include "mcts/tree_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/options.h"
#include "core/output.h"
#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "mcts/win_probability.h"
#include "platform/clock.h"
#include "search/search_output.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"

namespace {

constexpr double DEPTH_PER_LOG_NODE = 2.127643145234443;

// The child of `index` with the most visits (the earlier one on ties); 0
// when it has none.
int32_t mostVisitedChild(int32_t index) {
    int32_t best = 0;
    uint64_t bestVisits = 0;
    for (int32_t c = loadField(mctsNode(index).firstChild); c; c = mctsNode(c).nextSibling) {
        uint64_t visits = loadField(mctsNode(c).visits);
        if (!best || visits > bestVisits) {
            best = c;
            bestVisits = visits;
        }
    }
    return best;
}

// The child of `index` with the best value over its visits, skipping
// children never visited; 0 when there is none.
int32_t bestValuedChild(int32_t index, bool visitedOnly) {
    int32_t best = 0;
    double bestValue = -1;
    for (int32_t c = loadField(mctsNode(index).firstChild); c; c = mctsNode(c).nextSibling) {
        if (visitedOnly && loadField(mctsNode(c).visits) == 0) continue;
        double value = visitValue(mctsNode(c));
        if (!best || value > bestValue) {
            best = c;
            bestValue = value;
        }
    }
    return best;
}

int32_t nodeCount() {
    return std::max(1, mctsNodeCount.load(std::memory_order_relaxed));
}

int64_t elapsedMilliseconds() {
    return std::max<int64_t>(1, int64_t((elapsedSeconds() - searchStartTime) * 1000));
}

// A child's value as a score for its mover (the side to move at the root
// for root children).
Score childScore(int32_t child) {
    return scoreFromProbability(visitValue(mctsNode(child)));
}

// The move of `child` followed by its line of most visited children.
void childLine(int32_t child, Move* line) {
    line[0] = Move(mctsNode(child).move);
    treeLine(child, line + 1, PV_BUFFER_SIZE - 1);
}

void printSingleProgressLine(int depth, int64_t ms) {
    int32_t nodes = nodeCount();
    int32_t best = bestValuedChild(0, false);
    Move line[PV_BUFFER_SIZE];
    treeLine(0, line, PV_BUFFER_SIZE);
    char scoreText[SCORE_TEXT_SIZE], pvText[PV_TEXT_SIZE];
    formatScore(best ? childScore(best) : 0, scoreText, PV_EXACT);
    formatPv(line, pvText);
    printOut("info depth %d seldepth %d time %lld score %s nodes %d nps %lld pv %s\n", depth,
             mctsSelDepth.load(), (long long)ms, scoreText, nodes, (long long)(int64_t(nodes) * 1000 / ms),
             pvText);
}

// One line per root child, most visited first.
void printMultiPvProgressLines(int depth, int64_t ms) {
    int32_t children[MAX_ROOT_MOVES];
    int count = 0;
    for (int32_t c = loadField(mctsNode(0).firstChild); c && count < MAX_ROOT_MOVES;
         c = mctsNode(c).nextSibling)
        children[count++] = c;
    std::stable_sort(children, children + count, [](int32_t a, int32_t b) {
        return loadField(mctsNode(a).visits) > loadField(mctsNode(b).visits);
    });
    int32_t nodes = nodeCount();
    for (int k = 0; k < std::min(multiPV, count); k++) {
        Move line[PV_BUFFER_SIZE];
        childLine(children[k], line);
        char scoreText[SCORE_TEXT_SIZE], pvText[PV_TEXT_SIZE];
        formatScore(childScore(children[k]), scoreText, PV_EXACT);
        formatPv(line, pvText);
        printOut(
            "info multipv %d depth %d seldepth %d time %lld nodes %d nps %lld score %s tbhits %llu pv %s\n",
            k + 1, depth, mctsSelDepth.load(), (long long)ms, nodes, (long long)(int64_t(nodes) * 1000 / ms),
            scoreText, (unsigned long long)searchTablebaseHits(), pvText);
    }
}

}  // namespace

int treeDepth(int32_t nodes) {
    return int(std::log(double(std::max(1, nodes))) * DEPTH_PER_LOG_NODE);
}

void treeLine(int32_t index, Move* line, int room) {
    int n = 0;
    for (int32_t c = mostVisitedChild(index); c && n < room - 1; c = mostVisitedChild(c))
        line[n++] = Move(mctsNode(c).move);
    line[n] = MOVE_NONE;
}

bool reportTreeProgress() {
    if (!treeSearchRunning.load()) return false;
    int depth = treeDepth(nodeCount());
    if (depth >= mctsDepthLimit) searchThreads[0]->stop.store(true);
    if (quietSearch) return true;
    int64_t ms = elapsedMilliseconds();
    if (multiPV < 2)
        printSingleProgressLine(depth, ms);
    else
        printMultiPvProgressLines(depth, ms);
    return true;
}

void finishTreeSearch() {
    int32_t best = mostVisitedChild(0);
    if (!best) return;
    Move line[PV_BUFFER_SIZE];
    childLine(best, line);
    moveToText(line[0], bestMoveText);
    int32_t reply = bestValuedChild(best, true);
    if (reply)
        moveToText(Move(mctsNode(reply).move), ponderMoveText);
    else
        ponderMoveText[0] = '\0';
    resultMove = line[0];
    resultScore = childScore(best);
    // The playout rate goes to the log, for tuning the leaf budgets.
    int64_t playouts = int64_t(loadField(mctsNode(0).visits)) - startVisits;
    logLine("playouts: %lld in %.3f s, %d nodes\n", (long long)playouts, elapsedSeconds() - searchStartTime,
            nodeCount());
    if (quietSearch) return;

    int32_t nodes = nodeCount();
    int64_t ms = elapsedMilliseconds();
    char scoreText[SCORE_TEXT_SIZE], pvText[PV_TEXT_SIZE];
    formatScore(resultScore, scoreText, PV_EXACT);
    formatPv(line, pvText);
    printOut("info nodes %d\n", nodes);
    printOut("info depth %d seldepth %d time %lld nodes %d nps %lld score %s tbhits %llu hashfull %d pv %s\n",
             treeDepth(nodes), mctsSelDepth.load(), (long long)ms, nodes,
             (long long)(int64_t(nodes) * 1000 / ms), scoreText, (unsigned long long)searchTablebaseHits(),
             transpositionTable.hashfull(), pvText);
}
