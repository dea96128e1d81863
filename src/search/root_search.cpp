#include "search/root_search.h"

#include <algorithm>
#include <cstring>

#include "board/make_move.h"
#include "core/options.h"
#include "core/output.h"
#include "eval/evaluate.h"
#include "platform/clock.h"
#include "search/draw_detection.h"
#include "search/history.h"
#include "search/node_search.h"
#include "search/periodic_check.h"
#include "search/root_time_rules.h"
#include "search/search_session.h"
#include "search/search_tables.h"

static RootSearchState rootStates[MAX_THREADS];

RootSearchState& rootSearchState(int index) {
    return rootStates[index];
}

Position& prepareThreadRoot(SearchThread& thread, const Position& root, const RootMove* moves) {
    RootSearchState& state = rootStates[thread.index];
    int count = 0;
    while (moves[count].move != MOVE_NONE) count++;
    std::memcpy(state.moves, moves, sizeof(RootMove) * (count + 1));
    state.pvLine = 1;
    state.movesCompleted = 0;
    state.lastBound = PV_EXACT;

    Position& pos = thread.plyStack[0];
    pos = root;
    attachToThread(pos, thread);
    pos.checkers = computeCheckers(pos);
    setContinuationSlice(pos);
    // The parent's slices would point into the tables of whichever thread set
    // up the game; this thread starts its continuation history afresh instead.
    pos.contHist[1] = pos.contHist[2] = noMoveSlice(thread.history, pos.sideToMove());
    if (root.parent) {
        std::memcpy(static_cast<void*>(&state.rootParent), root.parent, POSITION_COPY_BYTES);
        state.rootParent.computed[WHITE] = state.rootParent.computed[BLACK] = false;
        state.rootParent.history = &thread.history;
        for (PieceToHistory*& slice : state.rootParent.contHist)
            slice = noMoveSlice(thread.history, state.rootParent.sideToMove());
        pos.parent = &state.rootParent;
    }
    pos.staticEval = SCORE_NONE;
    pos.statScore = 0;
    pos.nullMoveMinPly = 0;
    pos.nullMoveSide = 3;  // no null-move verification running for either side
    pos.doubleExtensionsLeft = 7;
    return pos;
}

// Whether a move takes something or promotes: such moves keep their place at
// the front of the root list and are never reduced there.
static bool isTactical(const Position& pos, Move m) {
    return isPromotion(m) || isCaptureMove(pos, m);
}

// Sort score of the moves that stay in front of the list.
constexpr int32_t KEEP_IN_FRONT = 65000;

// After an iteration that found a best move: the best move goes first, the
// old first move second, and the captures and promotions that follow them
// stay where they are; the quiet moves from the third entry on are sorted by
// main history, best first, so the next iteration tries likely moves early.
static void reorderRootMoves(const Position& pos, RootMove* moves, int bestIndex) {
    RootMove best = moves[bestIndex];
    std::memmove(moves + 1, moves, sizeof(RootMove) * bestIndex);
    moves[0] = best;

    int32_t sortScore[MAX_ROOT_MOVES];
    bool inFrontRun = true;
    int count = 0;
    for (; moves[count].move != MOVE_NONE; count++) {
        Move m = Move(moves[count].move);
        if (count >= 2 && !isTactical(pos, m)) inFrontRun = false;
        sortScore[count] =
            count < 2 || inFrontRun
                ? KEEP_IN_FRONT
                : pos.history->mainHistory[pos.board[moveFrom(m)]][moveFrom(m) * 64 + moveTo(m)];
    }
    for (int i = 2; i < count; i++) {
        if (isTactical(pos, Move(moves[i].move))) continue;
        for (int j = i + 1; j < count; j++) {
            if (isTactical(pos, Move(moves[j].move)) || sortScore[j] <= sortScore[i]) continue;
            std::swap(moves[i], moves[j]);
            std::swap(sortScore[i], sortScore[j]);
        }
    }
}

// The late-move reduction of root move number n (0-based), in half plies, or
// 0 when the move is to be searched at full depth. Mirrors the reductions of
// the node searches, with the root's own history and safety terms.
static int rootReduction(Position& pos, Move m, int depth, int n, Score beta) {
    int reduction =
        reductionTableFloor[1][std::min(depth, REDUCTION_DEPTHS - 1)][std::min(n + 1, REDUCTION_MOVES - 1)];
    Square from = moveFrom(m);
    Piece piece = pos.board[from];
    if (typeOf(piece) == PAWN && relativeRank(pos.sideToMove(), from) >= 4) reduction -= 2;
    pos.statScore = combinedQuietHistory(pos, m) / HISTORY_KEY_DIVISOR - historyOffset;
    reduction -= 2 * (pos.statScore / HISTORY_REDUCTION_STEP);
    if (beta < 0) reduction += 2;
    if (pos.phase > THREAT_PHASE && reduction > 0 && squareUnsafe(pos, encodeMove(from, from)))
        reduction -= 2;
    bool checks = givesCheck(pos, m);
    if (reduction < 2 || (checks && reduction < 4)) return 0;
    return checks ? reduction - 2 : reduction;
}

// A move searched without reduction: a null-window test first, the full
// window only when the move might beat alpha.
static Score searchFullDepth(Position& child, Score alpha, Score beta, int childDepth, Move* childPv) {
    Score v = -searchNonPV(child, -alpha, childDepth, 1, childPv, MOVE_NONE, false, true, 0);
    if (v > alpha) v = -searchPV(child, -beta, -alpha, childDepth, 1, childPv);
    return v;
}

// The root's own static evaluation, as the node searches would see it.
static void setRootStaticEval(Position& pos) {
    pos.statScore = 0;
    if (pos.checkers) {
        pos.staticEval = SCORE_NONE;
        return;
    }
    uint8_t lazy = 0;
    Score eval = evaluate(pos, -FULL_WINDOW, FULL_WINDOW, &lazy);
    pos.staticEval = scaleByRule50(eval, pos.rule50);
}

static void printCurrentMove(Move m, int number) {
    char text[8];
    moveToText(m, text);
    printOut("info currmove %s currmovenumber %d\n", text, number);
}

Score rootSearch(Position& pos, int depth, Score alpha, Score beta, Move* pv) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    RootSearchState& state = rootStates[pos.threadIndex];
    bool mainThread = pos.threadIndex == 0;
    if (thread.stop.load(std::memory_order_relaxed)) return 0;

    setRootStaticEval(pos);
    bool showCurrentMove = false;
    if (mainThread) {
        showCurrentMove = !quietSearch && thread.iteration > 5 && elapsedSeconds() - searchStartTime > 3.0;
        if (periodicCheck()) return 0;
        currentRootMoveNumber = 0;
    }

    pv[0] = MOVE_NONE;
    state.movesCompleted = 0;
    Position& child = thread.plyStack[1];
    Move childPv[PV_BUFFER_SIZE];
    Move secondKiller = thread.history.killerMoves[0][1];
    // A draw is worth the same to us at the root as anywhere else.
    Score drawScore = drawScoreByColor[pos.sideToMove()];
    Score bestValue = -SCORE_NONE;
    int bestIndex = -1;
    int searched = 0;

    for (int n = 0; state.moves[n].move != MOVE_NONE; n++) {
        RootMove& rootMove = state.moves[n];
        if (rootMove.excluded) continue;
        Move m = Move(rootMove.move);
        int reduction = 0;
        bool tactical = isTactical(pos, m);
        bool fullDepth = depth < 6 || n < 3 || tactical || !useLMR || m == secondKiller || bestValue < -31799;
        if (searched > 0 && !fullDepth) reduction = rootReduction(pos, m, depth, n, beta);

        if (!makeSearchMove(pos, child, m)) continue;
        child.checkers = computeCheckers(child);
        setContinuationSlice(child);
        if (mainThread) {
            currentRootMoveNumber = n + 1;
            if (showCurrentMove) printCurrentMove(m, n + 1);
        }
        // Under-promotions are rarely best; half the depth, in whole plies, is enough.
        int childDepth = isUnderPromotion(m) ? ((depth - 2) / 4) * 2 : depth - 2;

        childPv[0] = MOVE_NONE;
        Score v;
        if (fiftyMoveDraw(child) || repeatsEarlierPosition(child, 2)) {
            v = drawScore;
        } else if (searched == 0) {
            v = -searchPV(child, -beta, -alpha, childDepth, 1, childPv);
        } else if (reduction == 0) {
            v = searchFullDepth(child, alpha, beta, childDepth, childPv);
        } else {
            v = -searchNonPV(child, -alpha, std::max(childDepth - reduction, 2), 1, childPv, MOVE_NONE, false,
                             true, reduction);
            if (v > alpha) v = searchFullDepth(child, alpha, beta, childDepth, childPv);
        }
        searched++;

        if (thread.stop.load(std::memory_order_relaxed)) return 0;
        rootMove.score = v;
        state.movesCompleted++;

        if (v <= bestValue) continue;
        bestValue = v;
        if (v <= alpha) continue;
        // A root move other than the first searched takes over: the best move
        // is less settled than it looked, which the time rules want to know.
        if (mainThread && searched > 1 && state.pvLine == 1) {
            instability += instabilityWeight;
            instabilityWeight *= 0.5;
        }
        bestIndex = n;
        copyPv(pv, m, childPv);
        if (mainThread && !quietSearch) printPvLine(depth / 2, v, pv, v < beta ? PV_EXACT : PV_LOWER_BOUND);
        alpha = v;
        if (v >= beta) break;
    }

    state.lastBound = bestValue >= beta ? PV_LOWER_BOUND : bestIndex >= 0 ? PV_EXACT : PV_UPPER_BOUND;
    if (bestIndex >= 0 && state.pvLine == 1) reorderRootMoves(pos, state.moves, bestIndex);
    if (searched > 0) return bestValue;
    return pos.checkers ? -MATE_SCORE : drawScore;
}

// Aspiration windows of the search threads are shifted a little against each
// other, so that threads searching the same iteration see different cut-offs.
constexpr int32_t AspirationOffset[16] = {0, 0, 2, -2, 4, -4, 1, -1, 3, -3, 5, -5, 6, -6, 7, -7};

// Until the fifth iteration the scores move too much for a window to pay.
constexpr int FIRST_ASPIRATION_ITERATION = 5;
// A window this far from zero is not worth keeping: a fail beyond it opens
// that side completely.
constexpr int32_t WINDOW_LIMIT = 700;

static void storeIterationResult(RootSearchState& state, int iteration, Score score, const Move* pv) {
    state.iterationScore[iteration] = score;
    int i = 0;
    for (; i < MAX_PV_MOVES && pv[i] != MOVE_NONE; i++) state.iterationPv[iteration][i] = pv[i];
    state.iterationPv[iteration][i] = MOVE_NONE;
}

void searchIteration(Position& pos, int iteration) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    RootSearchState& state = rootStates[pos.threadIndex];
    bool mainThread = pos.threadIndex == 0;
    Move pv[PV_BUFFER_SIZE];
    if (mainThread) failLowPending = false;

    if (iteration < FIRST_ASPIRATION_ITERATION) {
        Score score = rootSearch(pos, 2 * iteration, -SCORE_NONE, SCORE_NONE, pv);
        if (mainThread) failLowCancelled = false;
        if (!thread.stop.load(std::memory_order_relaxed)) storeIterationResult(state, iteration, score, pv);
        return;
    }

    // The window grows with the square of the last score: a big score is
    // likely to move by more.
    int32_t previous = state.iterationScore[iteration - 1];
    int32_t delta = int32_t(uint32_t(previous * previous) / 10000u) + 8;
    int32_t centre = AspirationOffset[pos.threadIndex % 16] + previous;
    Score alpha = centre - delta, beta = centre + delta;
    int failHighs = 0;
    Move previousBest = state.iterationPv[iteration - 1][0];
    for (;;) {
        if (alpha < -MATE_SCORE) alpha = -SCORE_NONE;
        if (beta > MATE_SCORE) beta = SCORE_NONE;
        // Each fail high in a row searches one ply shallower: the move that
        // failed high is confirmed sooner.
        Score score = rootSearch(pos, std::max(2, 2 * (iteration - failHighs)), alpha, beta, pv);
        if (thread.stop.load(std::memory_order_relaxed)) return;
        storeIterationResult(state, iteration, score, pv);
        if (score > alpha && score < beta) break;

        delta = int32_t(delta * 1.4);
        if (score >= beta) {
            if (!mainThread) return;
            noteRootFailHigh(score, pv[0] == previousBest);
            failHighs++;
            alpha = (alpha + beta) / 2;
            beta += delta;
        } else {
            beta = score + delta / 4;
            alpha = score - delta;
            if (mainThread) noteRootFailLow();
            failHighs = 0;
        }
        if (alpha < -WINDOW_LIMIT) alpha = -SCORE_NONE;
        if (beta > WINDOW_LIMIT) beta = SCORE_NONE;
    }
    if (mainThread) noteRootExact();
}
