#include "mcts/playout.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "board/make_move.h"
#include "board/movegen.h"
#include "core/options.h"
#include "mcts/leaf_search.h"
#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "mcts/win_probability.h"
#include "platform/threads.h"
#include "search/draw_detection.h"
#include "search/history.h"
#include "search/move_picker.h"
#include "search/periodic_check.h"
#include "search/search_move.h"
#include "search/search_state.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"

namespace {

// The positions of one thread's playout: the one at ply p + 1 is made from
// the one at ply p (ply 0 is the thread's root record).
struct PlayoutStack {
    Position positions[MCTS_MAX_PLY + 1];
};
std::unique_ptr<PlayoutStack> playoutStacks[MAX_THREADS];

// Expansion searches of the later children are a ply shallower.
constexpr int FULL_DEPTH_CHILDREN = 4;
// Repetitions count twice at plies below this.
constexpr int REPETITION_TWICE_PLIES = 2;
// Captures among this many first children (and checks anywhere) get the
// exploration of one playout fewer.
constexpr int EARLY_CAPTURE_CHILDREN = 6;

bool stopped(const Position& pos) {
    return searchThreads[pos.threadIndex]->stop.load(std::memory_order_relaxed);
}

Position& stackPosition(const Position& pos, int ply) {
    return playoutStacks[pos.threadIndex]->positions[ply];
}

// Makes a move of the tree (legal when its node was made) into child, with
// what the searches expect of a position: its checkers and continuation row.
bool makeTreeMove(const Position& pos, Position& child, Move m) {
    if (!makeSearchMove(pos, child, m)) return false;
    child.checkers = computeCheckers(child);
    setContinuationSlice(child);
    return true;
}

void raiseSelDepth(int ply) {
    int32_t deepest = mctsSelDepth.load(std::memory_order_relaxed);
    while (ply > deepest && !mctsSelDepth.compare_exchange_weak(deepest, ply, std::memory_order_relaxed)) {
    }
}

// The legal moves of pos in the move picker's order (the table move first),
// as the expansion makes its children in that order. Returns their number.
int legalMovesInPickerOrder(const Position& pos, Position& scratch, Move* moves) {
    Move tableMove = MOVE_NONE;
    TTEntry entry;
    if (transpositionTable.probe(pos.key, entry) && hasSearchResult(entry) && isPseudoLegal(pos, entry.move))
        tableMove = entry.move;
    MovePicker picker;
    int sequence = pos.checkers ? PICK_EVASIONS : PICK_MAIN;
    startPicker(picker, pos, tableMove ? sequence : sequence + 1, tableMove, MOVE_NONE, MOVE_NONE, MOVE_NONE);
    int count = 0;
    while (Move m = nextMove(picker))
        if (makeSearchMove(pos, scratch, m)) moves[count++] = m;
    return count;
}

// The depth (plies) of the search that values child j when it is made.
int creationDepth(int ply, int j) {
    if (ply == 0) return j < MCTS_DEEP_ROOT_MOVES ? MCTS_ROOT_DEPTH : MCTS_ROOT_DEPTH - 1;
    return j < FULL_DEPTH_CHILDREN ? mctsSettings.expansionDepth : mctsSettings.expansionDepth - 1;
}

// Gives back the block [first, first + count) when it is still the last one
// handed out, so that an abandoned expansion leaves no dead nodes behind.
void returnNodes(int32_t first, int count) {
    int32_t last = first + count - 1;
    mctsNodeCount.compare_exchange_strong(last, first - 1, std::memory_order_relaxed);
}

// The child to descend into: the highest value plus exploration bonus. At
// the root the best child is judged by the mean of its value and the
// runner-up's, which keeps the search from settling too early; excluded
// root children are skipped. Returns 0 when there is none, with the child's
// place in the list in `place`.
int32_t selectChild(MctsNode& node, const Position& pos, int ply, int& place) {
    const bool atRoot = ply == 0;
    const double explore = std::pow(double(loadField(node.visits)), MCTS_EXPLORATION_EXPONENT) *
                           (atRoot ? mctsSettings.cpuctRoot : mctsSettings.cpuct[ply % 2]);
    int32_t first = loadField(node.firstChild);

    int32_t best = 0;
    double reference = 0;
    if (atRoot) {
        double bestQ = -1, secondQ = -1;
        for (int32_t c = first; c; c = mctsNode(c).nextSibling) {
            double q = selectionValue(mctsNode(c));
            if (q > bestQ) {
                secondQ = bestQ;
                bestQ = q;
                best = c;
            } else if (q > secondQ) {
                secondQ = q;
            }
        }
        reference = secondQ >= 0 ? (bestQ + secondQ) / 2 : bestQ;
    }

    const bool inCheck = pos.checkers != 0;
    int32_t chosen = 0;
    double chosenScore = 0;
    int j = 0;
    for (int32_t c = first; c; c = mctsNode(c).nextSibling, j++) {
        if (atRoot && rootExcluded[j].load(std::memory_order_relaxed)) continue;
        MctsNode& child = mctsNode(c);
        double q = atRoot && c == best ? reference : selectionValue(child);
        double spread = 1 + (q > 0.5 ? 16 : 8) * (q - 0.5) * (q - 0.5);
        double weight = loadField(child.playouts);
        bool forcing = (child.moveFlags & MOVE_GIVES_CHECK) ||
                       ((child.moveFlags & MOVE_CAPTURES) && j < EARLY_CAPTURE_CHILDREN && !inCheck);
        if (forcing) weight -= 1;
        weight = std::max(weight, 1.0);
        double bonus = explore * child.prior / (spread * weight);
        if (!atRoot && loadField(child.visits) == 1) bonus -= MCTS_FIRST_VISIT_PENALTY;
        if (isBusy(child)) q -= MCTS_BUSY_PENALTY;
        double score = q + bonus;
        if (isUnderPromotion(Move(child.move))) score -= MCTS_UNDERPROMOTION_PENALTY;
        if (!chosen || score > chosenScore) {
            chosen = c;
            chosenScore = score;
            place = j;
        }
    }
    return chosen;
}

// A child that another thread is expanding: wait for it (thread 0 keeps
// serving its periodic check meanwhile). False when the thread was stopped.
bool waitWhileBusy(MctsNode& child, const Position& pos) {
    while (isBusy(child)) {
        if (stopped(pos)) return false;
        if (pos.threadIndex == 0) periodicCheck();
        yieldThread();
    }
    return !stopped(pos);
}

// A child visited for the second or third time gets a deeper search, whose
// value replaces its earlier estimates. Returns false (and changes nothing)
// when another thread got there first, so the playout descends instead.
bool refineYoungChild(MctsNode& child, const Position& pos, Position& next, int place,
                      PlayoutResult& result) {
    uint64_t before = addToVisits(child, 1);
    if (before != 1 && before != 2) {
        addToVisits(child, -1);
        return false;
    }
    addToField(child.playouts, 1.0);
    int32_t budget = before == 1 ? mctsSettings.budgetSmall : mctsSettings.budgetLarge;
    Score score = leafSearchWithBudget(pos, next, Move(child.move), budget, place);
    if (stopped(pos)) {
        addToField(child.playouts, -1.0);
        addToVisits(child, -1);
        result = {0, false};
        return true;
    }
    double value = probabilityFromScore(score);
    storeField(child.valueSum, value * double(before + 1));
    result = {1 - value, true};
    return true;
}

}  // namespace

void preparePlayoutStacks(int threadCount) {
    for (int i = 0; i < threadCount; i++)
        if (!playoutStacks[i]) playoutStacks[i] = std::make_unique<PlayoutStack>();
}

bool playoutChildDrawn(const Position& child, int ply) {
    return childIsDrawn(child, ply < REPETITION_TWICE_PLIES ? 2 : 1);
}

void normalisePriors(MctsNode& node) {
    double sum = 0;
    for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling) sum += mctsNode(c).prior;
    if (sum <= 0) return;
    for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling)
        mctsNode(c).prior = float(mctsNode(c).prior / sum);
}

// The children are made as one block of the store and become visible to
// other threads only when firstChild is set, after all of them are valued.
bool createChildren(int32_t index, Position& pos, int ply, const Move* moves, int count) {
    MctsNode& node = mctsNode(index);
    const int32_t first = takeNodes(count);
    if (first == 0) return false;
    const Color us = pos.sideToMove();
    Position& child = stackPosition(pos, ply + 1);
    for (int j = 0; j < count; j++) {
        const Move m = moves[j];
        MctsNode& created = mctsNode(first + j);
        created = MctsNode{};
        created.nextSibling = j + 1 < count ? first + j + 1 : 0;
        created.move = m;
        created.moveFlags = uint8_t((isCaptureMove(pos, m) ? MOVE_CAPTURES : 0) |
                                    (givesCheck(pos, m) ? MOVE_GIVES_CHECK : 0));
        makeTreeMove(pos, child, m);
        created.key = child.key;
        double value = playoutChildDrawn(child, ply)
                           ? drawValueFor(us)
                           : probabilityFromScore(leafSearchToDepth(pos, child, m, creationDepth(ply, j)));
        // Below the root a stop leaves the node unexpanded; the root keeps
        // every move, whatever its value, so that there is always an answer.
        if (ply > 0 && stopped(pos)) {
            returnNodes(first, count);
            return false;
        }
        created.valueSum = value;
        created.prior = float(value * value);
        created.playouts = 1.0;
        created.visits = 1;
        if (ply == 0) {
            addToField(node.valueSum, 1 - value);
            addToField(node.playouts, 1.0);
            addToVisits(node, 1);
        }
    }
    storeField(node.firstChild, first);
    normalisePriors(node);
    return true;
}

PlayoutResult playout(int32_t index, Position& pos, int ply) {
    MctsNode& node = mctsNode(index);
    const Color us = pos.sideToMove();
    const Color mover = ~us;

    // Step 1. Nobody can mate: a draw, without a search.
    if (insufficientMaterial(pos)) return {drawValueFor(mover), true};

    // Step 2. The deepest ply reached.
    raiseSelDepth(ply);

    // Step 3. The node's lock: another thread expanding it ends this playout.
    if (!tryTakeBusy(node)) return {0, false};

    // Step 4. Expansion, on the third visit of a node without children.
    bool expandedNow = false;
    if (loadField(node.firstChild) == 0) {
        if (loadField(node.visits) <= 2) {
            releaseBusy(node);
            return {visitValue(node), true};
        }
        Move moves[MAX_MOVES];
        int count = legalMovesInPickerOrder(pos, stackPosition(pos, ply + 1), moves);
        if (count == 0) {
            // Mate (the mover has won, the sooner the better) or stalemate.
            double value = pos.checkers ? probabilityFromScore(MATE_SCORE - ply) : drawValueFor(mover);
            releaseBusy(node);
            return {value, true};
        }
        if (!createChildren(index, pos, ply, moves, count)) {
            releaseBusy(node);
            return {0, false};
        }
        expandedNow = true;
    }

    // Step 5. The children exist; the lock is no longer needed.
    releaseBusy(node);

    // Step 6. Selection. The playout stack ends deep below any real tree;
    // there the node's value stands.
    int place = 0;
    const int32_t chosen = ply + 1 < MCTS_MAX_PLY ? selectChild(node, pos, ply, place) : 0;
    if (!chosen) return {visitValue(node), true};
    MctsNode& child = mctsNode(chosen);

    // Step 7. A child being expanded by another thread is waited for.
    if (!waitWhileBusy(child, pos)) return {0, false};

    // Step 8. A young child is refined rather than descended into.
    Position& next = stackPosition(pos, ply + 1);
    makeTreeMove(pos, next, Move(child.move));
    const bool drawn = playoutChildDrawn(next, ply);
    const uint64_t childVisits = loadField(child.visits);
    if (childVisits == 1 || childVisits == 2 || expandedNow) {
        if (drawn) {
            storeField(child.valueSum, drawValueFor(us) * double(childVisits));
            return {drawValueFor(mover), true};
        }
        PlayoutResult refined;
        if (refineYoungChild(child, pos, next, place, refined)) return refined;
    }

    // Step 9. Descent, with a virtual loss on the child while it lasts.
    addToField(child.playouts, MCTS_VIRTUAL_LOSS_WEIGHT);
    PlayoutResult below = drawn ? PlayoutResult{drawValueFor(us), true} : playout(chosen, next, ply + 1);
    if (stopped(pos) || !below.valid) {
        addToField(child.playouts, -MCTS_VIRTUAL_LOSS_WEIGHT);
        return {0, false};
    }
    addToField(child.valueSum, below.value);
    addToField(child.playouts, 1.0 - MCTS_VIRTUAL_LOSS_WEIGHT);
    addToVisits(child, 1);
    return {1 - below.value, true};
}

bool playRootPlayout(Position& root) {
    PlayoutResult result = playout(0, root, 0);
    if (!result.valid) return false;
    MctsNode& node = mctsNode(0);
    addToField(node.valueSum, result.value);
    addToField(node.playouts, 1.0);
    addToVisits(node, 1);
    return true;
}
