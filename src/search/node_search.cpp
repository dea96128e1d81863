#include "search/node_search.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "board/bitboard.h"
#include "board/movegen.h"
#include "board/zobrist.h"
#include "core/options.h"
#include "eval/evaluate.h"
#include "search/draw_detection.h"
#include "search/history.h"
#include "search/move_picker.h"
#include "search/periodic_check.h"
#include "search/qsearch.h"
#include "search/search_move.h"
#include "search/search_session.h"
#include "search/search_state.h"
#include "search/search_tables.h"
#include "search/search_thread.h"
#include "tablebase/tablebase_probe.h"
#include "tt/transposition_table.h"

namespace {

// Keys mixed into the table key of a singular-extension search, so that the
// search without one move keeps entries of its own: one table by the excluded
// move's destination, one by its origin. Fixed forever, like every key that
// saved hash files depend on.
constexpr std::array<Key, 64> ExcludedToKeys = detail::keyList<64>(0x5AB1E0006ULL);
constexpr std::array<Key, 64> ExcludedFromKeys = detail::keyList<64>(0x5AB1E0007ULL);

// No-value start of a best score, below every mate.
constexpr Score NO_VALUE = -SCORE_NONE;

// The most quiet moves and captures a node remembers for its history updates.
constexpr int MAX_TRIED_QUIETS = 63;
constexpr int MAX_TRIED_CAPTURES = 31;

// What the table holds for a node, read once at its entry. Score and move are
// only meaningful when hasResult is set (an evaluation-only entry has neither).
struct TableInfo {
    bool hit = false;
    bool hasResult = false;
    bool final = false;
    Score score = SCORE_NONE;  // adjusted to this node's ply
    Move move = MOVE_NONE;
    int depth = 0;
    uint8_t kind = BOUND_NONE;  // bits 0-1 of the bound: upper, lower or exact
    uint8_t pvNode = 0;
    int16_t eval = EVAL_NONE;
};

TableInfo probeTable(Key key, int ply) {
    TableInfo info;
    TTEntry entry{};
    if (!transpositionTable.probe(key, entry)) return info;
    info.hit = true;
    info.pvNode = entry.pvNode;
    info.eval = entry.eval;
    if (!hasSearchResult(entry)) return info;
    info.hasResult = true;
    info.final = (entry.bound & BOUND_FINAL_FLAG) != 0;
    info.score = scoreFromTT(entry.score, ply);
    info.move = entry.move;
    info.depth = entry.depth;
    info.kind = entry.bound & BOUND_KIND_MASK;
    return info;
}

inline bool stopped(const SearchThread& thread) {
    return thread.stop.load(std::memory_order_relaxed);
}

// Scores go to the table relative to the node and as 16-bit values.
inline int16_t toTable(Score v, int ply) {
    return int16_t(scoreToTT(v, ply));
}

// The table probe inside the tree: only for positions at most as large as
// the root's tablebases, deep enough that the probe pays for itself ("Smart
// Syzygy" also probes smaller positions at shallower depths).
inline bool tablebaseProbeWanted(const Position& pos, int depth, int ply) {
    if (ply <= 1) return false;
    return (depth > 2 && smartSyzygy && pos.pieceCount < tbRootCardinality) ||
           (pos.pieceCount <= tbRootCardinality && depth >= syzygyProbeDepth);
}

// The node's static evaluation: the table's if it has one, else a fresh one
// (with the caller's lazy window) that is stored for later visits unless it
// came back lazy. Sets pos.staticEval to the value scaled by the fifty-move
// counter and returns the raw value to store with the node's result
// (EVAL_NONE when it was only a lazy estimate).
int16_t evaluateNode(Position& pos, const TableInfo& tt, Key key, Score lo, Score hi, uint8_t pvNode) {
    Score eval;
    int16_t stored;
    if (tt.hit && tt.eval != EVAL_NONE) {
        eval = tt.eval;
        stored = tt.eval;
    } else {
        uint8_t lazy = 0;
        eval = evaluate(pos, lo, hi, &lazy);
        stored = lazy ? EVAL_NONE : int16_t(eval);
        if (!lazy) transpositionTable.storeEval(key, int16_t(eval), pvNode);
    }
    pos.staticEval = scaleByRule50(eval, pos.rule50);
    return stored;
}

// A static evaluation that some node really computed (not "none", and not
// the placeholder that making a move leaves in a child).
inline bool evalKnown(Score v) {
    return std::abs(v) < SCORE_NONE;
}

// Whether the side to move is doing at least as well as two plies ago (within
// IMPROVING_MARGIN); nodes near the root and nodes without an earlier value
// count as improving, nodes in check never do.
bool isImproving(const Position& pos, int ply, bool inCheck) {
    if (ply < 2) return true;
    if (inCheck) return false;
    const Position* earlier = pos.parent ? pos.parent->parent : nullptr;
    return !earlier || !evalKnown(earlier->staticEval) ||
           earlier->staticEval <= pos.staticEval + IMPROVING_MARGIN;
}

// The counter move stored against the move that produced pos (none after a
// null move or at a position set up from text).
Move counterMoveOf(const Position& pos) {
    Move last = Move(pos.lastMove);
    if (pos.movedPiece == NO_PIECE || last == MOVE_NONE) return MOVE_NONE;
    return pos.history->counterMoves[pos.movedPiece][moveFrom(last) * 64 + moveTo(last)];
}

// Makes m into child and completes what making leaves to the search: the
// child's check state and its first continuation slice. False when illegal.
inline bool makeChild(const Position& pos, Position& child, Move m) {
    if (!makeSearchMove(pos, child, m)) return false;
    child.checkers = computeCheckers(child);
    setContinuationSlice(child);
    return true;
}

// Captures (en passant included) and promotions: moves that change material.
inline bool isTacticalMove(const Position& pos, Move m) {
    return isCaptureMove(pos, m) || isPromotion(m);
}

// A table move that takes an enemy piece or promotes, for the reductions.
// The move may come from a foreign entry, so the target is checked for an
// enemy piece rather than any piece.
inline bool isTacticalTableMove(const Position& pos, Move m) {
    if (m == MOVE_NONE) return false;
    MoveKind kind = moveKind(m);
    if (kind == EN_PASSANT || isPromotion(m)) return true;
    return kind != CASTLING && (pos.pieces[~pos.sideToMove()][0] & squareBB(moveTo(m)));
}

// A pawn move from the opponent's half of the board (ranks 5 to 8 for White).
inline bool isAdvancedPawnMove(const Position& pos, Move m) {
    Square from = moveFrom(m);
    return typeOf(pos.board[from]) == PAWN && relativeRank(pos.sideToMove(), from) >= 4;
}

// Whether the piece about to move stands where the opponent could win it:
// moving it away is then urgent, and such moves are reduced less.
inline bool pieceUnderThreat(const Position& pos, Move m) {
    return squareUnsafe(pos, encodeMove(moveFrom(m), moveFrom(m)));
}

// The reduced depth in plies that the quiet-move pruning rules look at.
inline int prunedDepthInPlies(int d, int improving, int moveNumber) {
    int reduction = reductionTableFloor[improving][std::min(d, REDUCTION_DEPTHS - 1)][moveNumber];
    return std::max(0, (d - 2 - reduction) / 2);
}

// The sum of the move's continuation entries one, two and four plies back.
inline int32_t continuationSum(const Position& pos, Move m) {
    Piece p = pos.board[moveFrom(m)];
    Square to = moveTo(m);
    return pos.contHist[0]->entry[p][to] + pos.contHist[1]->entry[p][to] + pos.contHist[2]->entry[p][to];
}

// A table move that may serve as a quiet cut-off move: a plain move or double
// push onto an empty square that the position really allows.
inline bool isQuietTableMove(const Position& pos, Move m) {
    MoveKind kind = moveKind(m);
    return (kind == NORMAL || kind == DOUBLE_PUSH) && pos.board[moveTo(m)] == NO_PIECE &&
           isPseudoLegal(pos, m);
}

// The move that takes the piece we moved two plies ago straight back, when
// doing so would only hand the opponent a free move: it is a plain move, the
// opponent's reply neither took anything nor moved a pawn (rule50 > 1), left
// the way back clear, and touched no castling right. MOVE_NONE otherwise.
Move returnMoveOf(const Position& pos) {
    const Position& parent = *pos.parent;
    Move ours = Move(parent.lastMove);
    Move theirs = Move(pos.lastMove);
    if (ours == MOVE_NONE || theirs == MOVE_NONE || moveKind(ours) != NORMAL) return MOVE_NONE;
    Square home = moveFrom(ours), now = moveTo(ours);
    if (pos.pieces[~pos.sideToMove()][0] & squareBB(home)) return MOVE_NONE;
    if (Between[moveFrom(theirs)][moveTo(theirs)] & squareBB(home)) return MOVE_NONE;
    if (pos.castleLost != parent.castleLost) return MOVE_NONE;
    return encodeMove(now, home);
}

// The common start of both node searches, before the table is read: the pv
// starts empty, a stop request ends the node, the mate-distance window
// narrows (alpha, beta) so that no result here can beat a mate already found
// nearer the root, the main thread runs its periodic check (input, time),
// the node has no static value yet, and a position in which nobody can mate
// is a draw. Out of depth, or out of room for children, the node belongs to
// the quiescence search. Returns true when one of these settles the node,
// with its value in `value`.
[[gnu::always_inline]] inline bool settledOnEntry(Position& pos, const SearchThread& thread, Score& alpha,
                                                  Score& beta, int depth, int ply, Move* pv, Score& value) {
    pv[0] = MOVE_NONE;
    value = 0;
    if (stopped(thread)) return true;

    alpha = std::max(alpha, ply - MATE_SCORE);
    beta = std::min(beta, MATE_SCORE - 1 - ply);
    if (beta <= alpha) {
        value = alpha;
        return true;
    }

    if (pos.threadIndex == 0 && periodicCheck()) return true;

    pos.staticEval = SCORE_NONE;
    if (insufficientMaterial(pos)) {
        value = drawScoreByColor[pos.sideToMove()];
        return true;
    }

    if (depth < 2 || ply >= MAX_PLY) {
        value = qsearch(pos, alpha, beta, 0, ply, pv);
        return true;
    }
    return false;
}

// The tablebase step of both node searches: where a probe is worth making
// and the tables know the position, their value ends the node and stands as
// its static value too. Returns true then, with the value in `value`.
inline bool settledByTablebases(Position& pos, int depth, int ply, Score& value) {
    if (!tablebaseProbeWanted(pos, depth, ply) || !probeWdlScore(pos, ply, &value)) return false;
    pos.staticEval = value;
    return true;
}

// The singular-extension test of a node, decided before its move loop. The
// table move is a candidate when the entry is a lower bound from a search
// not much shallower than this one (`entryDepth` is the depth the entry is
// held against) and not near a mate; the test then searches the node without
// it, at `depth`, against a null window at `beta`.
struct SingularTest {
    bool candidate;
    Score beta;
    int depth;
};

inline SingularTest planSingularTest(const TableInfo& tt, int entryDepth, int d, Score beta) {
    SingularTest test;
    test.candidate = tt.hasResult && std::abs(tt.score) <= SINGULAR_MAX_SCORE &&
                     tt.depth >= entryDepth - SINGULAR_ENTRY_DEPTH_MARGIN && (tt.kind & BOUND_LOWER);
    test.beta = test.candidate
                    ? std::min(tt.score, beta + SINGULAR_BETA_CAP) - SINGULAR_MARGIN_SIXTEENTHS * d / 16
                    : 0;
    test.depth = ((d - 2) / 2) & ~1;
    return test;
}

// The singular test's search: the node again without the table move m. It
// makes its own children in this ply's child slot, so m is made there again
// afterwards, unless the search was stopped (the caller then drops the node).
Score searchWithoutMove(Position& pos, Position& child, Move m, const SingularTest& test, int ply,
                        bool cutNode, const SearchThread& thread) {
    Move singularPv[PV_BUFFER_SIZE];
    Score v = searchNonPV(pos, test.beta, test.depth, ply, singularPv, m, true, cutNode, 0);
    if (!stopped(thread)) makeChild(pos, child, m);
    return v;
}

// The moves a node has searched, in the order tried, for the history
// updates after its move loop: at most MAX_TRIED_QUIETS quiet moves and
// MAX_TRIED_CAPTURES captures or promotions; the rest go unremembered. Nodes
// in check remember nothing.
struct TriedMoves {
    Move quiets[MAX_TRIED_QUIETS];
    Move captures[MAX_TRIED_CAPTURES];
    int quietCount = 0;
    int captureCount = 0;

    void remember(Move m, bool tactical) {
        if (tactical) {
            if (captureCount < MAX_TRIED_CAPTURES) captures[captureCount++] = m;
        } else if (quietCount < MAX_TRIED_QUIETS) {
            quiets[quietCount++] = m;
        }
    }
};

// After the move loop, when a move beat alpha: the captures tried learn
// from it, and the quiet moves too when it was quiet, the side was not in
// check and the static evaluation was above `quietFloor` (a node far below
// the window says little about which quiet move is good).
void learnFromBestMove(const Position& pos, Move bestMove, const TriedMoves& tried, int d, bool inCheck,
                       Score quietFloor) {
    updateCaptureStats(pos, bestMove, tried.captures, tried.captureCount, d);
    if (!isTacticalMove(pos, bestMove) && !inCheck && pos.staticEval > quietFloor)
        updateQuietStats(pos, bestMove, tried.quiets, tried.quietCount, d);
}

// Under-promotions are searched only deep in the tree.
inline bool skippedUnderPromotion(Move m, int d) {
    return isUnderPromotion(m) && d < UNDER_PROMOTION_DEPTH;
}

// Whether a move may be pruned at all: some move already holds a value that
// is no mate (so pruning cannot leave the node without a move), the move is
// no winning capture, the depth is within the pruning range, and the side
// has more than king and pawns (where zugzwang makes pruning unsafe).
inline bool pruningAllowed(Score bestValue, bool winningCapture, int d, bool fewPieces) {
    return bestValue > -MATE_BOUND && !winningCapture && d <= PRUNE_DEPTH_LIMIT && !fewPieces;
}

// The pruning of a capture, promotion or check: short of TACTICAL_SEE_DEPTH,
// one that loses more than `marginPerDepth` per half ply of depth in the
// exchange on its square is left out.
inline bool tacticalMoveTooCostly(const Position& pos, Move m, int d, int marginPerDepth) {
    return d < TACTICAL_SEE_DEPTH && seeBelow(pos, m, marginPerDepth * d);
}

// The killers and the counter move: quiet moves the ordering already
// trusts, which the pruning spares and the reductions treat gently.
inline bool isKillerOrCounter(Move m, Move killer1, Move killer2, Move counter) {
    return m == killer1 || m == killer2 || m == counter;
}

// Whether a quiet move's child is drawn by the fifty-move rule or by
// repetition; near the root (below ROOT_REPETITION_PLIES) only a second
// repetition counts. Captures and promotions restart the fifty-move count,
// so their children are not tested.
inline bool quietChildDrawn(const Position& child, bool tactical, int ply) {
    return !tactical && childIsDrawn(child, ply < ROOT_REPETITION_PLIES ? 2 : 1);
}

// A capture that leaves nothing but kings and pawns: the pawn endgame is
// searched two plies deeper, since its result is a matter of counting tempi.
inline bool entersPawnEndgame(const Position& child) {
    return child.phase == 0 && child.capturedType > PAWN;
}

// The move's history score before the reductions look at it (the child's
// pruning reads it through its parent): the table move, evasions and
// winning captures count as good, losing captures as bad, the rest as
// neutral.
inline int32_t moveStatScore(Move m, Move ttMove, bool inCheck, bool winningCapture, bool losingCapture) {
    return (m == ttMove || inCheck || winningCapture) ? STAT_SCORE_GOOD : losingCapture ? STAT_SCORE_BAD : 0;
}

// A quiet move that is reduced gets its history score from the quiet
// history instead (H / HISTORY_KEY_DIVISOR), less the history offset.
inline int32_t quietStatScore(const Position& pos, Move m) {
    return combinedQuietHistory(pos, m) / HISTORY_KEY_DIVISOR - historyOffset;
}

// What a quiet move's history score takes off its reduction, in half plies:
// a ply for each HISTORY_REDUCTION_STEP (a negative score adds to it).
inline int historyReduction(int32_t statScore) {
    return 2 * (statScore / HISTORY_REDUCTION_STEP);
}

// The null-window search of a move after the first: first `reduction` half
// plies shallower as an expected cut node (when the reduction is a ply or
// more), then, unless that already fails low, at the full new depth with
// `fullDepthCutNode` as the child's expectation. The value is from this
// node's side.
Score searchReducedThenFull(Position& child, Score alpha, int newDepth, int reduction, int ply, Move* childPv,
                            bool fullDepthCutNode) {
    if (reduction >= 2) {
        Score v = -searchNonPV(child, -alpha, std::max(newDepth - 2 - reduction, 2), ply + 1, childPv,
                               MOVE_NONE, false, true, reduction);
        if (v <= alpha) return v;
    }
    return -searchNonPV(child, -alpha, newDepth - 2, ply + 1, childPv, MOVE_NONE, false, fullDepthCutNode, 0);
}

// A node without a legal move: checkmate, scored by its distance from the
// root, or stalemate. Either is final, so the table keeps it at any depth.
inline Score noMoveResult(const Position& pos, Key key, bool inCheck, int ply, int d, int16_t storedEval,
                          uint8_t pvNode) {
    Score v = inCheck ? ply - MATE_SCORE : drawScoreByColor[pos.sideToMove()];
    transpositionTable.storeFinal(key, d, toTable(v, ply), storedEval, pvNode);
    return v;
}

}  // namespace

// The principal-variation node search. Every node of the full-window line
// passes here: nothing is cut off from the table, moves are pruned and
// reduced more gently than elsewhere, and every better move is stored at
// once so that the other threads see it.
Score searchPV(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    HistoryTable& history = *pos.history;
    const Color us = pos.sideToMove();

    // Step 1. This ply's killers.
    const Move killer1 = history.killerMoves[ply][0];
    const Move killer2 = history.killerMoves[ply][1];

    // Step 2. The common start: stop, mate distance, periodic check, draws
    // by material, and the hand-over to the quiescence search.
    Score entryValue;
    if (settledOnEntry(pos, thread, alpha, beta, depth, ply, pv, entryValue)) return entryValue;

    // Step 3. Table probe. A final entry holds at any depth; other entries
    // only guide the search at a PV node.
    const bool inCheck = pos.checkers != 0;
    const TableInfo tt = probeTable(pos.key, ply);
    if (tt.final) return tt.score;

    // Step 4. Tablebases.
    Score tbScore;
    if (settledByTablebases(pos, depth, ply, tbScore)) return tbScore;

    // Step 5. Static evaluation (none in check).
    int16_t storedEval = EVAL_NONE;
    if (!inCheck) storedEval = evaluateNode(pos, tt, pos.key, -FULL_WINDOW, FULL_WINDOW, 1);

    // Step 6. Improving.
    const int improving = isImproving(pos, ply, inCheck);

    // Step 7. Killers two plies on start empty; the counter move.
    history.killerMoves[ply + 2][0] = history.killerMoves[ply + 2][1] = MOVE_NONE;
    const Move counter = counterMoveOf(pos);

    // Step 8. Internal iterative reduction: without a table move the node is
    // searched a ply shallower; d is the working depth from here on.
    const int d = (tt.move == MOVE_NONE && depth >= IIR_MIN_DEPTH && !inCheck) ? depth - 2 : depth;

    // Step 9. Late-move count: generous in the first iterations.
    const int lateMoves =
        (thread.iteration < EARLY_ITERATIONS || useMCTS)
            ? (d > EARLY_LATE_MOVE_DEPTH ? NO_LATE_MOVE_LIMIT
                                         : EARLY_LATE_MOVES_PER_DEPTH * d + EARLY_LATE_MOVES_BASE)
            : lateMoveCount[improving][std::min(d, LATE_MOVE_DEPTHS - 1)];
    const int ttTactical = isTacticalTableMove(pos, tt.move);

    // Step 10. Singular-extension test, its entry held against the working depth.
    const SingularTest singular = planSingularTest(tt, d, d, beta);

    // Step 11. The move loop: the picker's moves, then (with several
    // threads) the moves put off because another thread was busy with them.
    MovePicker picker;
    startPicker(picker, pos, (inCheck ? PICK_EVASIONS : PICK_MAIN) + (tt.move ? 0 : 1), tt.move, killer1,
                killer2, counter);
    Position& child = thread.plyStack[ply + 1];
    Move childPv[PV_BUFFER_SIZE];
    TriedMoves tried;
    Move deferredMoves[MAX_MOVES];
    bool deferredLosing[MAX_MOVES];
    int deferredCount = 0, deferredRead = 0;
    bool firstPass = true;
    const bool useBusyFlags = activeThreads > 2 && !mctsActive;
    const bool fewPieces = hasOnlyKingAndPawns(pos, us);
    const Score alphaIn = alpha;
    Score bestValue = NO_VALUE;
    Move bestMove = MOVE_NONE;
    int movesPicked = 0, moveCount = 0, madeCount = 0;

    for (;;) {
        Move m;
        bool winningCapture = false, losingCapture = false;
        if (firstPass) {
            m = nextMove(picker);
            if (m == MOVE_NONE) {
                // The picker is done: the deferred moves get their turn.
                if (deferredCount > 0 && activeThreads >= 2 && bestValue < beta && !mctsActive) {
                    firstPass = false;
                    continue;
                }
                break;
            }
            movesPicked++;
            winningCapture = isWinningCaptureStage(picker);
            losingCapture = picker.lastStage == STAGE_DEFERRED_CAPTURES;
        } else {
            if (deferredRead == deferredCount) break;
            losingCapture = deferredLosing[deferredRead];
            m = deferredMoves[deferredRead++];
        }
        const int moveNumber = std::min(movesPicked, REDUCTION_MOVES - 1);

        // Loop step 1. Under-promotions only deep in the tree.
        if (skippedUnderPromotion(m, d)) continue;

        const bool tactical = isTacticalMove(pos, m);
        const bool checks = givesCheck(pos, m);

        // Loop step 2. Pruning, once some move has a value that is no mate.
        if (pruningAllowed(bestValue, winningCapture, d, fewPieces)) {
            if (tactical || checks) {
                if (tacticalMoveTooCostly(pos, m, d, PV_TACTICAL_SEE_MARGIN)) continue;
            } else {
                int lmrDepth = prunedDepthInPlies(d, 1, moveNumber);
                int32_t h = combinedQuietHistory(pos, m);
                bool special = isKillerOrCounter(m, killer1, killer2, counter);
                if (!special && moveCount > lateMoves && d <= PV_MOVE_COUNT_DEPTH &&
                    h < PV_MOVE_COUNT_HISTORY)
                    continue;
                if (lmrDepth < QUIET_SEE_PLIES &&
                    seeBelow(pos, m, PV_QUIET_SEE_FACTOR * quietSeeMargin[lmrDepth]) &&
                    h < QUIET_SEE_HISTORY_LIMIT)
                    continue;
            }
        }

        // Loop step 3. Make the move.
        if (!makeChild(pos, child, m)) continue;
        madeCount++;

        // Loop step 4. Helper threads put off moves another thread is searching.
        if (useBusyFlags && firstPass && pos.threadIndex != 0 && moveCount >= 2 && d >= DEFER_MIN_DEPTH &&
            !winningCapture) {
            TTEntry childEntry{};
            if (transpositionTable.probe(child.key, childEntry) && childEntry.busy) {
                deferredLosing[deferredCount] = losingCapture;
                deferredMoves[deferredCount++] = m;
                continue;
            }
        }
        moveCount++;

        // Loop step 5. Remember the move for the history updates.
        if (!inCheck) tried.remember(m, tactical);

        Score v;
        bool markedBusy = false;
        childPv[0] = MOVE_NONE;
        // Loop step 6. Draws by repetition (twice near the root) or the fifty-move rule.
        if (quietChildDrawn(child, tactical, ply)) {
            v = drawnMoveScore(pos);
        } else {
            // Loop step 7. Extensions.
            int extension = 0;
            if (ply < 2 * thread.iteration) {
                if (m == tt.move && d >= PV_SINGULAR_MIN_DEPTH && singular.candidate) {
                    // Is the table move singular: does everything else fail
                    // clearly below its value?
                    Score sv = searchWithoutMove(pos, child, m, singular, ply, false, thread);
                    if (stopped(thread)) return 0;
                    if (sv < singular.beta)
                        extension = 2;
                    else if (singular.beta < beta && tt.score < beta && tt.score <= alpha && tt.score < sv)
                        extension = -2;
                }
                if (extension == 0 && inCheck && !seeBad(pos, m)) extension = 2;
                if (entersPawnEndgame(child)) extension = 4;
            }

            // Loop step 8. New depth and this move's history score.
            const int newDepth = d + extension;
            pos.statScore = moveStatScore(m, tt.move, inCheck, winningCapture, losingCapture);

            // Loop step 9. Search the child: the first move with the full
            // window, later quiet moves reduced with a null window first.
            if (useBusyFlags) {
                transpositionTable.setBusy(child.key, 1);
                markedBusy = true;
            }
            if (moveCount == 1) {
                v = -searchPV(child, -beta, -alpha, newDepth - 2, ply + 1, childPv);
            } else {
                int reduction = 0;
                if (useLMR && newDepth >= LMR_MIN_DEPTH && !tactical) {
                    reduction = reductionTableFloor[1][std::min(d, REDUCTION_DEPTHS - 1)][moveNumber] +
                                2 * ttTactical - (tt.pvNode && !mctsActive ? 4 : 0);
                    if (checks) reduction -= 2;
                    if (isKillerOrCounter(m, killer1, killer2, counter) || isAdvancedPawnMove(pos, m))
                        reduction -= 2;
                    pos.statScore = quietStatScore(pos, m);
                    reduction -= historyReduction(pos.statScore);
                    reduction = std::max(reduction, 0);
                    if (pos.phase > THREAT_PHASE && reduction > 1 && d <= PV_THREAT_MAX_DEPTH &&
                        pieceUnderThreat(pos, m))
                        reduction -= 2;
                    if (beta < 0) reduction += 2;
                    if (reduction >= 2 && checks) reduction -= 2;
                }
                v = searchReducedThenFull(child, alpha, newDepth, reduction, ply, childPv, true);
                if (v > alpha) v = -searchPV(child, -beta, -alpha, newDepth - 2, ply + 1, childPv);
            }
        }

        // Loop step 10. The subtree is free again; a stop discards everything.
        if (markedBusy) transpositionTable.setBusy(child.key, 0);
        if (stopped(thread)) return 0;

        // Loop step 11. A quiet first move that fails low loses continuation history at once.
        if (moveCount == 1 && !tactical && v <= alpha && !inCheck) punishContinuation(pos, m, d);

        // Loop step 12. New best move. At ply 1 the line is kept even when it
        // fails low, so that the root can show what it saw.
        if (v > bestValue) {
            bestValue = v;
            if (ply == 1) copyPv(pv, m, childPv);
            if (v > alpha) {
                bestMove = m;
                copyPv(pv, m, childPv);
                if (v < beta) {
                    alpha = v;
                    transpositionTable.storeLowerBound(pos.key, d - 2, toTable(v, ply), m, storedEval, 1);
                } else {
                    if (!tactical) updateQuietCutoff(pos, ply, m);
                    break;
                }
            }
        }
    }

    // Step 12. A stop discards the node.
    if (stopped(thread)) return 0;

    // Step 13. History updates.
    if (bestMove != MOVE_NONE)
        learnFromBestMove(pos, bestMove, tried, d, inCheck, alpha - PV_QUIET_LEARN_MARGIN);

    // Step 14. No legal move: mate or stalemate.
    if (madeCount == 0) return noMoveResult(pos, pos.key, inCheck, ply, d, storedEval, 1);

    // Step 15. All moves failed low: the static value (capped at alpha) is a
    // truer upper bound than the best of the reduced searches.
    if (!inCheck && bestValue <= alphaIn) bestValue = std::max(bestValue, std::min(alpha, pos.staticEval));

    // Step 16. Store and return.
    if (bestValue <= alphaIn)
        transpositionTable.storeUpperBound(pos.key, d, toTable(bestValue, ply), storedEval, 1);
    else if (bestValue < beta)
        transpositionTable.storeExact(pos.key, d, toTable(bestValue, ply), bestMove, storedEval, 1);
    else
        transpositionTable.storeLowerBound(pos.key, d - 2, toTable(bestValue, ply), bestMove, storedEval, 1);
    return bestValue;
}

// The null-window node search. Most of the tree passes here: table
// cut-offs, reverse futility, null move with verification, ProbCut, futility
// mode, move-count, history and exchange pruning, singular extensions with a
// multi-cut, and late-move reductions.
Score searchNonPV(Position& pos, Score beta, int depth, int ply, Move* pv, Move excludedMove, bool noNull,
                  bool cutNode, int parentReduction) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    HistoryTable& history = *pos.history;
    const Color us = pos.sideToMove();

    // Step 1. This ply's killers; no move history score yet.
    const Move killer1 = history.killerMoves[ply][0];
    const Move killer2 = history.killerMoves[ply][1];
    pos.statScore = 0;

    // Step 2. The common start: stop, mate distance, periodic check, draws
    // by material, and the hand-over to the quiescence search. A window that
    // survives the mate-distance test is still (beta - 1, beta).
    Score alpha = beta - 1;
    Score entryValue;
    if (settledOnEntry(pos, thread, alpha, beta, depth, ply, pv, entryValue)) return entryValue;

    // Step 3. A singular search keeps its table entries apart.
    const Key key = excludedMove == MOVE_NONE ? pos.key
                                              : pos.key ^ ExcludedToKeys[moveTo(excludedMove)] ^
                                                    ExcludedFromKeys[moveFrom(excludedMove)];

    // Step 4. Table probe and cut-off: a deeper result that settles the null
    // window ends the node (not near the fifty-move limit, where it may no
    // longer hold). A quiet refutation still teaches the killers and histories.
    const bool inCheck = pos.checkers != 0;
    const TableInfo tt = probeTable(key, ply);
    if (tt.final) return tt.score;
    if (tt.hasResult && tt.depth > depth &&
        ((tt.score >= beta && (tt.kind & BOUND_LOWER)) || (tt.score < beta && (tt.kind & BOUND_UPPER)))) {
        if (tt.score >= beta && (tt.kind & BOUND_LOWER) && isQuietTableMove(pos, tt.move)) {
            updateQuietCutoff(pos, ply, tt.move);
            if (!inCheck) rewardQuietMove(pos, tt.move, depth);
        }
        if (pos.rule50 < TABLE_CUTOFF_RULE50_LIMIT) return tt.score;
    }

    // Step 5. Tablebases.
    Score tbScore;
    if (settledByTablebases(pos, depth, ply, tbScore)) return tbScore;

    // Step 6. Static evaluation (none in check), lazy around beta where a
    // rough value decides as well as an exact one.
    int16_t storedEval = EVAL_NONE;
    if (!inCheck) {
        Score margin = depth < LAZY_EVAL_SHALLOW_DEPTH
                           ? LAZY_EVAL_SHALLOW_MARGIN
                           : LAZY_EVAL_MARGIN_PER_DEPTH * depth + LAZY_EVAL_MARGIN_BASE;
        Score lo = depth >= LAZY_EVAL_EXACT_DEPTH ? -FULL_WINDOW : beta - margin;
        Score hi = depth >= LAZY_EVAL_EXACT_DEPTH ? FULL_WINDOW : beta + margin;
        storedEval = evaluateNode(pos, tt, key, lo, hi, tt.pvNode);
    }

    // Step 7. Improving.
    const int improving = isImproving(pos, ply, inCheck);

    // Step 8. Killers two plies on start empty; the counter move.
    history.killerMoves[ply + 2][0] = history.killerMoves[ply + 2][1] = MOVE_NONE;
    const Move counter = counterMoveOf(pos);

    Position& child = thread.plyStack[ply + 1];
    Move childPv[PV_BUFFER_SIZE];
    const bool fewPieces = hasOnlyKingAndPawns(pos, us);
    Score evalAdj = pos.staticEval;

    if (!inCheck) {
        // Step 9. The static value corrected by a table bound that says more.
        if (tt.hasResult &&
            (tt.kind == BOUND_EXACT || (tt.kind == BOUND_LOWER && tt.score > pos.staticEval) ||
             (tt.kind == BOUND_UPPER && tt.score < pos.staticEval)))
            evalAdj = tt.score;

        // Step 10. Evaluation feedback: a quiet last move after which the
        // mover's evaluation fell loses main history, one that rose gains.
        const Position* parent = pos.parent;
        if (parent && evalKnown(parent->staticEval) && pos.lastMove != MOVE_NONE && pos.capturedType == 0)
            addLastMoveFeedback(
                pos, std::clamp(-EVAL_FEEDBACK_PER_DEPTH * depth * (parent->staticEval + pos.staticEval),
                                -EVAL_FEEDBACK_LIMIT, EVAL_FEEDBACK_LIMIT));

        if (evalAdj >= beta && std::abs(beta) < MATE_BOUND && nullMovePruning) {
            // Step 11. Reverse futility: far enough above beta, return at once.
            const Score rfpMargin =
                (depth / 2) * futilityMultiplier + depth * depth - RFP_IMPROVING_BONUS * improving;
            if (evalAdj < RFP_MAX_EVAL && !tt.pvNode && depth < RFP_DEPTH_LIMIT &&
                evalAdj - rfpMargin >= beta)
                return evalAdj;

            // Step 12. Null move: if passing still leaves us at beta, a real move will too.
            bool nullAllowed = !noNull && !fewPieces && pos.staticEval <= evalAdj &&
                               !(ply >= 2 && parent && parent->lastMove == MOVE_NONE) &&
                               !(parent && parent->statScore > NULL_MOVE_MAX_PARENT_STAT) &&
                               !(pos.nullMoveSide == us && ply <= pos.nullMoveMinPly);
            if (nullAllowed && depth < NULL_MOVE_MARGIN_DEPTH) {
                const Score margin = NULL_MOVE_MARGIN_PER_DEPTH * depth - NULL_MOVE_MARGIN_BASE -
                                     (tt.pvNode ? NULL_MOVE_PV_ENTRY_MARGIN : 0);
                nullAllowed = pos.staticEval >= beta - margin;
            }
            if (nullAllowed) {
                const int R =
                    (std::min(NULL_MOVE_R_PER_LEAD * (evalAdj - beta), NULL_MOVE_R_LEAD_CAP) +
                     NULL_MOVE_R_PER_DEPTH * depth +
                     (pos.phase < NULL_MOVE_ENDGAME_PHASE ? NULL_MOVE_R_BASE_ENDGAME : NULL_MOVE_R_BASE)) /
                    NULL_MOVE_R_SCALE;
                makeSearchMove(pos, child, MOVE_NONE);
                Score v = depth - 2 * R < 2 ? -qsearch(child, -beta, -beta + 1, 0, ply + 1, childPv)
                                            : -searchNonPV(child, -beta + 1, depth - 2 * R, ply + 1, childPv,
                                                           MOVE_NONE, true, !cutNode, 0);
                if (stopped(thread)) return 0;
                // No unproven mates from a null move.
                Score result = v >= NULL_MOVE_MATE_LIMIT ? beta : v;

                // A threat found under a reduced node: give up on it, or undo the reduction.
                if (parentReduction > 0 && result < beta - NULL_MOVE_THREAT_MARGIN) {
                    if (parentReduction < NULL_MOVE_THREAT_REDUCTION) return result;
                    depth += 2;
                }

                if (result >= beta) {
                    if (depth < NULL_MOVE_VERIFY_DEPTH ||
                        (pos.phase > NULL_MOVE_VERIFY_PHASE && depth < NULL_MOVE_VERIFY_DEEP_DEPTH) ||
                        pos.nullMoveMinPly != 0)
                        return result;
                    // Deep in the endgame, verify with a real search in which
                    // this side may not pass for a while (zugzwang).
                    int verifyDepth = 3 * (depth - 2 * R) / 4;
                    pos.nullMoveMinPly = uint8_t(std::min(ply + 3 * (depth - 2 * R) / 8, 255));
                    pos.nullMoveSide = uint8_t(us);
                    Score verified =
                        searchNonPV(pos, beta, verifyDepth, ply, childPv, MOVE_NONE, true, false, 0);
                    pos.nullMoveMinPly = 0;
                    if (stopped(thread)) return 0;
                    if (verified >= beta) return result;
                    depth = (depth + 1) & ~1;
                }
            }
        }

        // Step 13. ProbCut: a capture that beats beta by a margin in a
        // shallow search almost surely beats beta in a full one.
        if (!noNull && depth >= PROBCUT_MIN_DEPTH && std::abs(beta) < MATE_SCORE &&
            pos.capturedType != QUEEN && pos.capturedType != KING) {
            const Score probBeta = std::min(beta, PROBCUT_MAX_BETA) + PROBCUT_MARGIN;
            MovePicker probPicker;
            startPicker(probPicker, pos, PICK_PROBCUT, tt.move, MOVE_NONE, MOVE_NONE, MOVE_NONE);
            int probSearched = 0;
            while (probSearched < PROBCUT_MAX_MOVES) {
                Move m = nextMove(probPicker);
                if (m == MOVE_NONE) break;
                if (seeBelow(pos, m, pos.staticEval - probBeta)) continue;
                if (!makeChild(pos, child, m)) continue;
                probSearched++;
                Score v = -qsearch(child, -probBeta, -probBeta + 1, 0, ply + 1, childPv);
                if (v >= probBeta)
                    v = -searchNonPV(child, -probBeta + 1, depth - PROBCUT_REDUCTION, ply + 1, childPv,
                                     MOVE_NONE, false, !cutNode, 0);
                if (stopped(thread)) return 0;
                if (v >= probBeta) return v;
            }
        }
    } else {
        // Step 14. In check: a deep table capture that wins clearly is trusted.
        if (tt.hasResult && tt.score >= beta + CHECK_TT_MARGIN && tt.kind == BOUND_LOWER &&
            tt.depth >= depth - CHECK_TT_DEPTH_MARGIN && depth >= CHECK_TT_MIN_DEPTH &&
            (isCaptureMove(pos, tt.move) || moveKind(tt.move) == PROMO_QUEEN) &&
            std::abs(tt.score) <= CHECK_TT_MAX_SCORE && std::abs(beta) <= CHECK_TT_MAX_SCORE)
            return beta + CHECK_TT_MARGIN;
    }

    // Step 15. Internal iterative reduction on expected cut nodes without a table move.
    const int d = (cutNode && depth >= IIR_MIN_DEPTH && tt.move == MOVE_NONE) ? depth - 2 : depth;

    // Step 16. Futility mode: when even a good quiet move cannot lift the
    // value to beta, only captures, checks and the most forcing quiet moves
    // are tried, and the margin-raised static value stands for the rest.
    const Score futilityBase = ((d * d) & ~3) + (d / 2) * FUTILITY_MODE_PER_PLY + evalAdj;
    const bool futilityMode = !inCheck && excludedMove == MOVE_NONE && pos.lastMove != MOVE_NONE &&
                              d <= FUTILITY_MODE_MAX_DEPTH && futilityBase < beta && !fewPieces;
    Score bestValue = NO_VALUE;
    if (futilityMode && pos.staticEval < beta) bestValue = std::max(futilityBase, pos.staticEval);

    // Step 17. Late-move count; the quiet moves stop after half as many again.
    const int lateMoves = lateMoveCount[improving][std::min(d, LATE_MOVE_DEPTHS - 1)];
    const int ttTactical = isTacticalTableMove(pos, tt.move);

    // Step 18. The return move, skipped as a waste of two tempi.
    const Move returnMove =
        (ply > 1 && pos.rule50 > 1 && drawScoreByColor[us] < beta) ? returnMoveOf(pos) : MOVE_NONE;

    // Step 19. Singular-extension test (the entry's depth held against the
    // depth before the internal reduction).
    const SingularTest singular = planSingularTest(tt, depth, d, beta);

    // Step 20. The move loop.
    int sequence;
    if (futilityMode)
        sequence = d < FUTILITY_MODE_DEEP_DEPTH ? PICK_FUTILITY : PICK_FUTILITY_DEEP;
    else
        sequence = inCheck ? PICK_EVASIONS : PICK_MAIN;
    MovePicker picker;
    startPicker(picker, pos, sequence + (tt.move ? 0 : 1), tt.move, killer1, killer2, counter);
    TriedMoves tried;
    Move bestMove = MOVE_NONE;
    int movesPicked = 0, moveCount = 0;
    bool returnMoveSkipped = false;

    for (;;) {
        if (2 * moveCount > 3 * lateMoves) picker.quietsOff = true;
        const Move m = nextMove(picker);
        if (m == MOVE_NONE) break;
        movesPicked++;
        const bool winningCapture = isWinningCaptureStage(picker);
        const bool losingCapture = picker.lastStage == STAGE_DEFERRED_CAPTURES;
        const int moveNumber = std::min(movesPicked, REDUCTION_MOVES - 1);

        // Loop step 1. The excluded move, under-promotions short of depth 20,
        // and the return move.
        if (m == excludedMove) continue;
        if (skippedUnderPromotion(m, d)) continue;
        if (m == returnMove && (moveCount > 0 || !inCheck)) {
            returnMoveSkipped = true;
            continue;
        }

        const bool tactical = isTacticalMove(pos, m);
        const bool checks = givesCheck(pos, m);

        // Loop step 2. Pruning, once some value that is no mate exists.
        if (pruningAllowed(bestValue, winningCapture, d, fewPieces)) {
            if (tactical || checks) {
                if (tacticalMoveTooCostly(pos, m, d, TACTICAL_SEE_MARGIN)) continue;
            } else {
                int lmrDepth = prunedDepthInPlies(d, improving, moveNumber);
                int32_t h = combinedQuietHistory(pos, m);
                // Move-count pruning by history; in the quiet stage, every later quiet goes too.
                if (moveCount > lateMoves && !futilityMode && d <= MOVE_COUNT_DEPTH && !inCheck &&
                    h / HISTORY_KEY_DIVISOR < historyPruneThreshold) {
                    if (picker.lastStage == STAGE_QUIETS) picker.quietsOff = true;
                    continue;
                }
                // Poor continuation history at low depth.
                if (!inCheck && lmrDepth < CONTINUATION_PRUNE_PLIES &&
                    continuationSum(pos, m) - CONTINUATION_PRUNE_OFFSET <
                        CONTINUATION_PRUNE_BASE - CONTINUATION_PRUNE_PER_DEPTH * d)
                    continue;
                // Futility: the static value plus a margin stays below beta.
                const Score futilityValue = pos.staticEval + FUTILITY_MARGIN_PER_PLY * lmrDepth +
                                            FUTILITY_MARGIN_BASE - FUTILITY_MARGIN_PER_MOVE * moveCount;
                if (lmrDepth <= FUTILITY_PLIES && futilityValue < beta) continue;
                // The move loses material on its square.
                if ((inCheck || lmrDepth < QUIET_SEE_PLIES) &&
                    seeBelow(pos, m, quietSeeMargin[std::min(lmrDepth, QUIET_SEE_PLIES - 1)]) &&
                    h < QUIET_SEE_HISTORY_LIMIT)
                    continue;
            }
        }

        // Loop step 3. Make the move.
        if (!makeChild(pos, child, m)) continue;
        moveCount++;

        // Loop step 4. Remember the move for the history updates.
        if (!inCheck) tried.remember(m, tactical);

        Score v;
        childPv[0] = MOVE_NONE;
        // Loop step 5. Draws by repetition (twice near the root) or the fifty-move rule.
        if (quietChildDrawn(child, tactical, ply)) {
            v = drawnMoveScore(pos);
        } else {
            // Loop step 6. Extensions.
            int extension = 0;
            if (ply < 2 * thread.iteration) {
                if (m == tt.move && d >= SINGULAR_MIN_DEPTH && excludedMove == MOVE_NONE &&
                    singular.candidate) {
                    Score sv = searchWithoutMove(pos, child, m, singular, ply, cutNode, thread);
                    if (stopped(thread)) return 0;
                    if (sv < singular.beta) {
                        extension = 2;
                        if (sv < singular.beta - DOUBLE_EXTENSION_MARGIN && child.doubleExtensionsLeft > 0) {
                            extension = 4;
                            child.doubleExtensionsLeft--;
                        }
                    } else if (singular.beta >= beta) {
                        // Multi-cut: even without the table move the node fails high.
                        return singular.beta;
                    } else {
                        extension = tt.score >= beta ? -4 : sv > tt.score ? -2 : 0;
                    }
                }
                if (entersPawnEndgame(child)) extension = 4;
            }

            // Loop step 7. New depth and this move's history score.
            const int newDepth = d + extension;
            pos.statScore = moveStatScore(m, tt.move, inCheck, winningCapture, losingCapture);

            // Loop step 8. Search the child: late moves reduced first.
            int reduction = 0;
            if (moveCount > 1 && useLMR && newDepth >= LMR_MIN_DEPTH) {
                reduction =
                    reductionTable[improving][std::min(d, REDUCTION_DEPTHS - 1)][moveNumber] + 2 * ttTactical;
                if (tt.pvNode) reduction -= mctsActive ? 2 : 4;
                if (tactical) {
                    if (d >= CAPTURE_EASE_DEPTH && !cutNode) reduction -= 4;
                } else if (cutNode) {
                    reduction += (!inCheck && d >= CUT_NODE_DEEP_DEPTH) ? 4 : 2;
                }
                if (checks) reduction -= 2;
                if (beta < 0) reduction += 2;
                if (!tactical) {
                    if (d < ORDERING_EASE_DEPTH &&
                        (isKillerOrCounter(m, killer1, killer2, counter) || isAdvancedPawnMove(pos, m)))
                        reduction -= 2;
                    pos.statScore = quietStatScore(pos, m);
                    reduction -= historyReduction(pos.statScore);
                }
                if (reduction >= 2 && !(pos.phase > THREAT_PHASE && !cutNode) && pieceUnderThreat(pos, m))
                    reduction -= 4;
                if (reduction >= 2 && checks) reduction -= 2;
                if (reduction < 2) reduction = 0;
            }
            v = searchReducedThenFull(child, alpha, newDepth, reduction, ply, childPv, !cutNode);
        }

        // Loop step 9. A stop discards everything.
        if (stopped(thread)) return 0;

        // Loop step 10. A move that reaches beta refutes the parent's move.
        if (v > bestValue) {
            bestValue = v;
            if (v > alpha) {
                bestMove = m;
                copyPv(pv, m, childPv);
                if (!tactical) updateQuietCutoff(pos, ply, m);
                break;
            }
        }
    }

    // Step 21. A stop discards the node.
    if (stopped(thread)) return 0;

    // Step 22. History updates.
    if (bestMove != MOVE_NONE) learnFromBestMove(pos, bestMove, tried, d, inCheck, beta - QUIET_LEARN_MARGIN);

    // Step 23. No move made. With every move on offer that is mate or
    // stalemate, final at any depth. When moves were left out on purpose
    // (futility mode, a singular search, the return move), it says nothing
    // of the kind: the node keeps the value that stood for the left-out moves.
    if (moveCount == 0) {
        if (!futilityMode && excludedMove == MOVE_NONE && !returnMoveSkipped)
            return noMoveResult(pos, key, inCheck, ply, d, storedEval, tt.pvNode);
        if (futilityMode) bestValue = std::max(bestValue, futilityBase);
        if (returnMoveSkipped) bestValue = std::max(bestValue, drawScoreByColor[us]);
    }

    // Step 24. Store and return: in a null window the value either fails low
    // (an upper bound) or reaches beta (a lower bound with its move).
    if (bestValue <= alpha)
        transpositionTable.storeUpperBound(key, d, toTable(bestValue, ply), storedEval, tt.pvNode);
    else
        transpositionTable.storeLowerBound(key, d, toTable(bestValue, ply), bestMove, storedEval, tt.pvNode);
    return bestValue;
}

// The full-window search of the Monte-Carlo leaves (and of the root before a
// Monte-Carlo search). Its value becomes a win probability in the tree, so
// it trades the selective rules of searchPV for a steadier result: table
// cut-offs are taken, but no move is pruned, no internal reduction or
// singular extension is made, and late moves are reduced more plainly.
Score windowSearch(Position& pos, Score alpha, Score beta, int depth, int ply, Move* pv) {
    SearchThread& thread = *searchThreads[pos.threadIndex];
    HistoryTable& history = *pos.history;

    // Step 1. This ply's killers.
    const Move killer1 = history.killerMoves[ply][0];
    const Move killer2 = history.killerMoves[ply][1];

    // Step 2. The common start, as in the other node searches.
    Score entryValue;
    if (settledOnEntry(pos, thread, alpha, beta, depth, ply, pv, entryValue)) return entryValue;

    // Step 3. Table probe: a final entry, or a result at least as deep that
    // settles the window, ends the node (not near the fifty-move limit).
    const bool inCheck = pos.checkers != 0;
    const TableInfo tt = probeTable(pos.key, ply);
    if (tt.final) return tt.score;
    if (tt.hasResult && tt.depth >= depth && pos.rule50 < TABLE_CUTOFF_RULE50_LIMIT &&
        (tt.kind == BOUND_EXACT || ((tt.kind & BOUND_LOWER) && tt.score >= beta) ||
         ((tt.kind & BOUND_UPPER) && tt.score <= alpha)))
        return tt.score;

    // Step 4. Tablebases.
    Score tbScore;
    if (settledByTablebases(pos, depth, ply, tbScore)) return tbScore;

    // Step 5. Static evaluation (none in check).
    int16_t storedEval = EVAL_NONE;
    if (!inCheck) storedEval = evaluateNode(pos, tt, pos.key, -FULL_WINDOW, FULL_WINDOW, 1);

    // Step 6. Killers two plies on start empty; the counter move.
    history.killerMoves[ply + 2][0] = history.killerMoves[ply + 2][1] = MOVE_NONE;
    const Move counter = counterMoveOf(pos);

    // Step 7. The move loop over every move of the picker.
    MovePicker picker;
    startPicker(picker, pos, (inCheck ? PICK_EVASIONS : PICK_MAIN) + (tt.move ? 0 : 1), tt.move, killer1,
                killer2, counter);
    Position& child = thread.plyStack[ply + 1];
    Move childPv[PV_BUFFER_SIZE];
    TriedMoves tried;
    const Score alphaIn = alpha;
    Score bestValue = NO_VALUE;
    Move bestMove = MOVE_NONE;
    int movesPicked = 0, moveCount = 0;

    while (Move m = nextMove(picker)) {
        movesPicked++;
        const bool winningCapture = isWinningCaptureStage(picker);
        const bool losingCapture = picker.lastStage == STAGE_DEFERRED_CAPTURES;
        const int moveNumber = std::min(movesPicked, REDUCTION_MOVES - 1);

        // Loop step 1. Under-promotions only deep in the tree.
        if (skippedUnderPromotion(m, depth)) continue;
        const bool tactical = isTacticalMove(pos, m);
        const bool checks = givesCheck(pos, m);

        // Loop step 2. Make the move and remember it for the history updates.
        if (!makeChild(pos, child, m)) continue;
        moveCount++;
        if (!inCheck) tried.remember(m, tactical);

        Score v;
        childPv[0] = MOVE_NONE;
        // Loop step 3. Draws by repetition (twice near the root) or the fifty-move rule.
        if (quietChildDrawn(child, tactical, ply)) {
            v = drawnMoveScore(pos);
        } else {
            // Loop step 4. Extensions: checks that do not simply lose the
            // checking piece, and captures into a pawn endgame.
            int extension = 0;
            if (ply < 2 * thread.iteration) {
                if (checks && (m == tt.move || !seeBad(pos, m))) extension = 2;
                if (entersPawnEndgame(child)) extension = 4;
            }
            const int newDepth = depth + extension;
            pos.statScore = moveStatScore(m, tt.move, inCheck, winningCapture, losingCapture);

            // Loop step 5. The first move and shallow ones get the full
            // window; later ones a null window first, reduced where allowed.
            if (moveCount == 1 || newDepth < 4) {
                v = -searchPV(child, -beta, -alpha, newDepth - 2, ply + 1, childPv);
            } else {
                int reduction = 0;
                if (useLMR && newDepth >= LMR_MIN_DEPTH && !winningCapture) {
                    reduction = reductionTableFloor[1][std::min(depth, REDUCTION_DEPTHS - 1)][moveNumber];
                    if (tactical) {
                        reduction -= 4;
                    } else {
                        if (isKillerOrCounter(m, killer1, killer2, counter) || isAdvancedPawnMove(pos, m))
                            reduction -= 2;
                        pos.statScore = quietStatScore(pos, m);
                        reduction -= historyReduction(pos.statScore);
                        if (pos.phase > THREAT_PHASE && pieceUnderThreat(pos, m)) reduction -= 2;
                    }
                    // Whole plies only.
                    if (reduction > 2 && (reduction & 1)) reduction--;
                    reduction = std::max(reduction, 0);
                }
                v = searchReducedThenFull(child, alpha, newDepth, reduction, ply, childPv, true);
                if (v > alpha) v = -searchPV(child, -beta, -alpha, newDepth - 2, ply + 1, childPv);
            }
        }

        // Loop step 6. A stop discards everything.
        if (stopped(thread)) return 0;

        // Loop step 7. A quiet first move that fails low loses continuation history at once.
        if (moveCount == 1 && !tactical && v <= alpha && !inCheck) punishContinuation(pos, m, depth);

        // Loop step 8. New best move; at ply 1 the line is kept even when it fails low.
        if (v > bestValue) {
            bestValue = v;
            if (ply == 1) copyPv(pv, m, childPv);
            if (v > alpha) {
                bestMove = m;
                copyPv(pv, m, childPv);
                if (v < beta) {
                    alpha = v;
                    transpositionTable.storeLowerBound(pos.key, depth - 2, toTable(v, ply), m, storedEval, 1);
                } else {
                    if (!tactical) updateQuietCutoff(pos, ply, m);
                    break;
                }
            }
        }
    }

    // Step 8. A stop discards the node.
    if (stopped(thread)) return 0;

    // Step 9. History updates; the quiet moves learn from nearer the window.
    if (bestMove != MOVE_NONE)
        learnFromBestMove(pos, bestMove, tried, depth, inCheck, alpha - QUIET_LEARN_MARGIN);

    // Step 10. No legal move: mate or stalemate.
    if (moveCount == 0) return noMoveResult(pos, pos.key, inCheck, ply, depth, storedEval, 1);

    // Step 11. Store and return.
    if (bestValue <= alphaIn)
        transpositionTable.storeUpperBound(pos.key, depth, toTable(bestValue, ply), storedEval, 1);
    else if (bestValue < beta)
        transpositionTable.storeExact(pos.key, depth, toTable(bestValue, ply), bestMove, storedEval, 1);
    else
        transpositionTable.storeLowerBound(pos.key, depth - 2, toTable(bestValue, ply), bestMove, storedEval,
                                           1);
    return bestValue;
}
