#include "search/qsearch.h"

#include <algorithm>

#include "board/make_move.h"
#include "eval/evaluate.h"
#include "search/draw_detection.h"
#include "search/history.h"
#include "search/move_picker.h"
#include "search/periodic_check.h"
#include "search/search_state.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"

namespace {

// What a capture can at most gain, by captured piece type (none, pawn ..
// king), for delta pruning: generous versions of the material values.
constexpr Score DeltaValue[7] = {0, 180, 600, 660, 900, 1740, 10000};

// A stand-pat value this far below alpha gives up on the node at once.
constexpr Score HOPELESS_MARGIN = 1660;

// A null window lets the evaluation stop early this far outside it (a wide
// window asks for the exact value, FULL_WINDOW).
constexpr Score LAZY_WINDOW_MARGIN = 164;

// Delta-pruning margins over the stand-pat value.
constexpr Score DELTA_MARGIN_NULL_WINDOW = 70;
constexpr Score DELTA_MARGIN_WIDE_WINDOW = 170;

// Continuation entries below this mark a quiet move as a poor follow-up.
constexpr int POOR_CONTINUATION = 12000;

// The table depth of quiescence entries: the first ply (which also tries
// quiet checks) knows more than the plies below it.
constexpr int FIRST_PLY_TABLE_DEPTH = 0;
constexpr int DEEPER_TABLE_DEPTH = -2;

// From this ply on (and in any null window) a table bound that says more
// than the static value stands in for it when standing pat.
constexpr int TABLE_STAND_PAT_PLY = 5;

// Whether a table bound settles the node: exact, or on the far side of the window.
inline bool boundSettles(uint8_t bound, Score score, Score alpha, Score beta) {
    uint8_t kind = bound & BOUND_KIND_MASK;
    return kind == BOUND_EXACT || (kind == BOUND_LOWER && score >= beta) ||
           (kind == BOUND_UPPER && score <= alpha);
}

// Whether a table bound tells more than the static value v: exact, a lower
// bound above it or an upper bound below it.
inline bool boundImproves(uint8_t bound, Score score, Score v) {
    uint8_t kind = bound & BOUND_KIND_MASK;
    return kind == BOUND_EXACT || (kind == BOUND_LOWER && score > v) || (kind == BOUND_UPPER && score < v);
}

}  // namespace

// The quiescence search. Not in check, the side to move may "stand pat" on its
// static value and searches only captures that could raise it (plus quiet
// checks at the first ply); in check every evasion is tried, so mates are
// found. Results go to the table at depth 0 or -2.
Score qsearch(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    const Color us = pos.sideToMove();
    const bool inCheck = pos.checkers != 0;

    // Step 1. Stop requests, and the periodic check on the main thread.
    pv[0] = MOVE_NONE;
    if (thread.stop.load(std::memory_order_relaxed)) return 0;
    if (pos.threadIndex == 0 && periodicCheck()) return 0;

    // Step 2. Nobody can mate: a draw.
    if (insufficientMaterial(pos)) return drawScoreByColor[us];

    // Step 3. No result here can beat a mate already found nearer the root.
    alpha = std::max(alpha, ply - MATE_SCORE);
    beta = std::min(beta, MATE_SCORE - 1 - ply);
    if (beta <= alpha) return alpha;

    // At the deepest ply there is no room for children: the static value.
    if (ply >= MAX_PLY) {
        uint8_t lazy = 0;
        return scaleByRule50(evaluate(pos, -FULL_WINDOW, FULL_WINDOW, &lazy), pos.rule50);
    }

    const Score alphaIn = alpha;
    const bool nullWindow = beta - alpha == 1;
    const int tableDepth = depth == 0 ? FIRST_PLY_TABLE_DEPTH : DEEPER_TABLE_DEPTH;

    // Step 4. Table probe: a deep enough bound that settles the window ends
    // the node (not near the fifty-move limit, where the stored value may no
    // longer hold); its move is tried first either way.
    TTEntry entry{};
    const bool hit = transpositionTable.probe(pos.key, entry);
    const bool hasResult = hit && hasSearchResult(entry);
    const Score ttScore = hasResult ? scoreFromTT(entry.score, ply) : SCORE_NONE;
    const Move ttMove = hasResult ? Move(entry.move) : MOVE_NONE;
    if (hasResult) {
        if (entry.bound & BOUND_FINAL_FLAG) return ttScore;
        if (entry.depth >= tableDepth && pos.rule50 < TABLE_CUTOFF_RULE50_LIMIT &&
            boundSettles(entry.bound, ttScore, alpha, beta))
            return ttScore;
    }

    Score bestValue;
    Score deltaBase = 0;
    int16_t storedEval = EVAL_NONE;
    bool lazy = false;
    int sequence;
    if (!inCheck) {
        // Step 5. Static value, stand pat and delta base.
        Score eval;
        if (hit && entry.eval != EVAL_NONE) {
            eval = entry.eval;
        } else {
            uint8_t lazyFlag = 0;
            eval = nullWindow
                       ? evaluate(pos, alpha - LAZY_WINDOW_MARGIN, beta + LAZY_WINDOW_MARGIN, &lazyFlag)
                       : evaluate(pos, -FULL_WINDOW, FULL_WINDOW, &lazyFlag);
            lazy = lazyFlag != 0;
            if (!lazy) transpositionTable.storeEval(pos.key, int16_t(eval), 0);
        }
        if (!lazy) storedEval = int16_t(eval);
        pos.staticEval = scaleByRule50(eval, pos.rule50);

        // Deep in the tree, or in a null window, a table bound is a better
        // stand-pat value than the bare evaluation.
        Score stand = pos.staticEval;
        if ((ply >= TABLE_STAND_PAT_PLY || nullWindow) && hasResult &&
            boundImproves(entry.bound, ttScore, stand))
            stand = ttScore;

        if (stand < alpha - HOPELESS_MARGIN) return alpha;
        if (stand >= beta) return stand;
        alpha = std::max(alpha, stand);
        bestValue = stand;
        sequence = depth == 0 ? PICK_QSEARCH_CHECKS : PICK_QSEARCH;
        deltaBase = stand + (nullWindow ? DELTA_MARGIN_NULL_WINDOW : DELTA_MARGIN_WIDE_WINDOW);
    } else {
        // Step 6. In check: no standing pat, every evasion counts.
        pos.staticEval = SCORE_NONE;
        bestValue = -SCORE_NONE;
        sequence = PICK_EVASIONS_NO_DEFER;
    }
    if (ttMove == MOVE_NONE) sequence++;

    // Step 7. The moves.
    MovePicker picker;
    startPicker(picker, pos, sequence, ttMove, MOVE_NONE, MOVE_NONE, MOVE_NONE);
    Position& child = thread.plyStack[ply + 1];
    Move childPv[PV_BUFFER_SIZE];
    const Square lastMoveTo = moveTo(Move(pos.lastMove));
    int moveCount = 0;

    while (Move m = nextMove(picker)) {
        if (isUnderPromotion(m)) continue;
        const bool capture = isCaptureMove(pos, m);
        const bool hasNonMatedValue = bestValue > -MATE_BOUND;

        // Far below the horizon only recaptures on the last move's square remain.
        if (!inCheck && depth < qsearchDepthLimit && moveTo(m) != lastMoveTo) continue;

        if (inCheck) {
            // Once one evasion holds, quiet evasions that lose material are left out.
            if (hasNonMatedValue && !capture && seeBadFine(pos, m)) continue;
        } else if (m != ttMove) {
            if (isPromotion(m)) {
                if (seeBadFine(pos, m)) continue;
            } else if (depth == 0 && givesCheck(pos, m)) {
                if (seeBadFine(pos, m)) continue;
            } else {
                // Below the first ply, pawn captures are not worth it once a move was tried.
                Piece captured = moveKind(m) == EN_PASSANT ? makePiece(~us, PAWN) : pos.board[moveTo(m)];
                if (moveCount > 0 && depth < 0 && typeOf(captured) == PAWN) continue;
                // Delta pruning: even winning the piece outright cannot reach alpha,
                // or the exchange wins nothing while the margin alone falls short.
                Score gain = DeltaValue[typeOf(captured)];
                if (deltaBase + gain < alpha) {
                    bestValue = std::max(bestValue, deltaBase + gain);
                    continue;
                }
                if (deltaBase < alpha && seeBelow(pos, m, -1)) {
                    bestValue = std::max(bestValue, deltaBase);
                    continue;
                }
            }
        }

        if (!makeSearchMove(pos, child, m)) continue;
        moveCount++;

        // A quiet move (a check or an evasion) that follows the last two
        // moves poorly is not worth a search once a value exists.
        if (!capture && !isPromotion(m) && hasNonMatedValue) {
            Piece piece = Piece(child.movedPiece);
            Square to = moveTo(m);
            if (pos.contHist[0]->entry[piece][to] < POOR_CONTINUATION &&
                pos.contHist[1]->entry[piece][to] < POOR_CONTINUATION)
                continue;
        }

        child.checkers = computeCheckers(child);
        setContinuationSlice(child);

        Score v;
        childPv[0] = MOVE_NONE;
        if (childIsDrawn(child, 1))
            v = drawnMoveScore(pos);
        else
            v = -qsearch(child, -beta, -alpha, depth - 2, ply + 1, childPv);
        if (thread.stop.load(std::memory_order_relaxed)) return 0;

        if (v > bestValue) {
            bestValue = v;
            if (v > alpha) {
                copyPv(pv, m, nullWindow ? nullptr : childPv);
                alpha = v;
                if (v >= beta) break;
            }
        }
    }

    // Step 8. Store the result. A lazy evaluation was only an estimate: it
    // is neither kept as this node's static value nor stored.
    if (lazy) pos.staticEval = SCORE_NONE;
    if (inCheck && moveCount == 0) {
        transpositionTable.storeExact(pos.key, tableDepth, int16_t(scoreToTT(ply - MATE_SCORE, ply)),
                                      MOVE_NONE, storedEval, 0);
        return ply - MATE_SCORE;
    }
    int16_t stored = int16_t(scoreToTT(bestValue, ply));
    if (bestValue >= beta)
        transpositionTable.storeLowerBound(pos.key, tableDepth, stored, pv[0], storedEval, 0);
    else if (bestValue > alphaIn)
        transpositionTable.storeExact(pos.key, tableDepth, stored, pv[0], storedEval, 0);
    else
        transpositionTable.storeUpperBound(pos.key, tableDepth, stored, storedEval, 0);
    return bestValue;
}
