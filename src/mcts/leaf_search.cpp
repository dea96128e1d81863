#include "mcts/leaf_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "board/make_move.h"
#include "mcts/mcts_session.h"
#include "search/node_search.h"
#include "search/search_state.h"
#include "search/search_thread.h"

namespace {

// The leaf searches start at two plies and deepen a ply at a time; from
// FULL_WINDOW_DEPTH on they aim an ASPIRATION_STEP window at the last score.
constexpr int FIRST_DEPTH = 4;
constexpr int FULL_WINDOW_DEPTH = 8;
constexpr Score ASPIRATION_STEP = 8;
// The searched position sits one ply below the playout's node, so the
// alpha-beta search puts its own children from plyStack[2] on.
constexpr int LEAF_PLY = 1;
constexpr int MAX_LEAF_DEPTH = 2 * (MAX_ITERATIONS - 1);

bool stopped(const Position& pos) {
    return searchThreads[pos.threadIndex]->stop.load(std::memory_order_relaxed);
}

// One depth with an aspiration window around `previous`, widened on the
// failing side by a doubled step until the result falls inside (or the
// window is the full range).
Score searchAround(Position& pos, Score previous, int depth, Move* pv) {
    Score step = ASPIRATION_STEP;
    Score alpha = previous - step, beta = previous + step;
    for (;;) {
        alpha = std::max(alpha, -MATE_SCORE);
        beta = std::min(beta, MATE_SCORE);
        Score v = windowSearch(pos, alpha, beta, depth, LEAF_PLY, pv);
        if (stopped(pos) || (v > alpha && v < beta) || (alpha == -MATE_SCORE && beta == MATE_SCORE)) return v;
        step *= 2;
        if (v <= alpha)
            alpha = previous - step;
        else
            beta = previous + step;
    }
}

// Iterative deepening of pos to maxDepth (half plies), ending early once the
// thread has searched `budget` nodes (0 = no budget) or a mate is found.
// Returns the score from pos's side to move.
Score deepen(Position& pos, int maxDepth, uint64_t budget) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    const uint64_t startNodes = thread.nodes.load(std::memory_order_relaxed);
    Move pv[PV_BUFFER_SIZE];
    Score score = 0;
    for (int depth = FIRST_DEPTH; depth <= maxDepth; depth += 2) {
        // The node searches extend only while the ply is below twice this.
        thread.iteration = depth / 2;
        Score v = depth <= FULL_WINDOW_DEPTH ? windowSearch(pos, -MATE_SCORE, MATE_SCORE, depth, LEAF_PLY, pv)
                                             : searchAround(pos, score, depth, pv);
        if (stopped(pos)) return score;
        score = v;
        if (budget != 0 && thread.nodes.load(std::memory_order_relaxed) - startNodes >= budget) break;
        if (std::abs(score) >= MATE_BOUND) break;
    }
    return score;
}

}  // namespace

Score leafSearchToDepth(const Position& parent, Position& child, Move m, int plies) {
    if (stopped(parent)) return 0;
    if (givesCheck(parent, m)) plies += 1;
    if (isUnderPromotion(m) || seeBad(parent, m)) plies -= 2;
    if (plies < 2) return 0;
    return -deepen(child, 2 * plies, 0);
}

Score leafSearchWithBudget(const Position& parent, Position& child, Move m, int32_t budget,
                           int selectionIndex) {
    if (stopped(parent)) return 0;
    double nodes = budget;
    if (selectionIndex >= 2) nodes *= std::pow(MCTS_BUDGET_DECAY, selectionIndex - 1);
    if (isUnderPromotion(m)) nodes /= 2;
    return -deepen(child, MAX_LEAF_DEPTH, std::max<uint64_t>(1, uint64_t(nodes)));
}
