// Per-thread move-ordering statistics: main history, capture history,
// continuation history, killers and counter moves, with the ordering keys the
// generators and the move picker derive from them and the update rules the
// node searches apply after each node.
//
// Every search thread owns one HistoryTable and only that thread reads or
// writes it; positions reach it through their `history` handle and their
// three continuation slices.
#pragma once

#include <algorithm>
#include <cstdint>

#include "board/position.h"

constexpr int KILLER_PLIES = 202;
constexpr int32_t MAIN_HISTORY_START = 16000;
constexpr int32_t CAPTURE_HISTORY_START = 8000;
constexpr uint16_t CONTINUATION_START = 16000;

// One continuation row: statistics of a later move by (its Piece, its destination).
struct PieceToHistory {
    uint16_t entry[16][64];
};

struct HistoryTable;
void resetHistoryTable(HistoryTable& table);

struct alignas(64) HistoryTable {
    Move killerMoves[KILLER_PLIES][2];   // two per ply, most recent first
    int32_t mainHistory[16][4096];       // [Piece][from * 64 + to]
    int32_t captureHistory[16][64][16];  // [moving Piece][to][captured Piece]
    Move counterMoves[16][4096];         // [Piece of the last move][its from * 64 + to]
    // Rows by the move they follow: [child in check][move captured][Piece][to].
    PieceToHistory continuation[2][2][15][64];

    // A new table holds the starting values.
    HistoryTable() { resetHistoryTable(*this); }
};

// Capture order values by piece type (none, pawn .. king): about half the
// material weights of the regular evaluation, the king as the queen + 2500.
constexpr int32_t CaptureOrderValue[7] = {0, 570, 2148, 2350, 3871, 7515, 10015};

// The continuation row that stands for "no move" (the null move, a position
// set up from text, a missing grandparent): the row of the empty piece code of
// the side to move.
inline PieceToHistory* noMoveSlice(HistoryTable& table, Color sideToMove) {
    return &table.continuation[0][0][sideToMove * 8][0];
}

// The first continuation slice of a child the search has just made, chosen by
// the child's check state, whether the move captured, the moving piece and its
// destination. Needs the child's `checkers`.
inline void setContinuationSlice(Position& child) {
    if (child.movedPiece == NO_PIECE) {
        child.contHist[0] = noMoveSlice(*child.history, child.sideToMove());
        return;
    }
    child.contHist[0] = &child.history->continuation[child.checkers != 0][child.capturedType != 0]
                                                    [child.movedPiece][moveTo(Move(child.lastMove))];
}

// The piece a move takes: the enemy pawn for en passant, else whatever stands
// on the destination (the empty code for quiet moves and castling's own rook).
inline Piece capturedPieceOf(const Position& pos, Move m) {
    if (moveKind(m) == EN_PASSANT) return makePiece(~pos.sideToMove(), PAWN);
    if (moveKind(m) == CASTLING) return NO_PIECE;
    return pos.board[moveTo(m)];
}

// The combined quiet history of a move: twice its main history and its
// one-ply continuation, plus the two- and four-ply continuations. It drives
// the quiet order, the reductions and the history pruning of the searches.
inline int32_t combinedQuietHistory(const Position& pos, Move m) {
    Square from = moveFrom(m), to = moveTo(m);
    Piece p = pos.board[from];
    return 2 * (pos.history->mainHistory[p][from * 64 + to] + pos.contHist[0]->entry[p][to]) +
           pos.contHist[1]->entry[p][to] + pos.contHist[2]->entry[p][to];
}

// The quiet ordering key, H / 6. H reaches 320000 at the tables' bounds, so
// the key saturates at the largest 16-bit key; the moves above it keep their
// generation order among themselves.
inline int16_t quietOrderKey(int32_t combinedHistory) {
    return int16_t(std::min(combinedHistory / 6, int32_t(INT16_MAX)));
}

// The ordering key of a capture or promotion from the tactical generator:
// captured value plus capture history; a capturing queen promotion first of
// all; a knight promotion by its own value plus what it takes.
inline int16_t captureOrderKey(const Position& pos, Move m) {
    Piece captured = capturedPieceOf(pos, m);
    int32_t capturedValue = CaptureOrderValue[typeOf(captured)];
    if (moveKind(m) == PROMO_QUEEN && captured != NO_PIECE) return 32000;
    if (moveKind(m) == PROMO_KNIGHT) return int16_t(CaptureOrderValue[KNIGHT] + capturedValue);
    int32_t base = moveKind(m) == PROMO_QUEEN ? CaptureOrderValue[QUEEN] : capturedValue;
    Piece mover = pos.board[moveFrom(m)];
    return int16_t(base + pos.history->captureHistory[mover][moveTo(m)][captured]);
}

// Gravity rules. Each entry moves towards its bound by a share of the
// distance, so repeated bonuses and maluses saturate instead of overflowing:
// main history stays within 0..32000, capture history within 2662..13338,
// continuation entries within 0..64000.

// Main history: h + d - (h - 16000) * |d| / 16000 (d = +bonus or -malus).
constexpr int32_t mainHistoryAfter(int32_t h, int32_t delta) {
    int32_t size = delta < 0 ? -delta : delta;
    return h + delta - (h - MAIN_HISTORY_START) * size / 16000;
}

// Capture history: h + d - (h - 8000) * |d| / 5338.
constexpr int32_t captureHistoryAfter(int32_t h, int32_t delta) {
    int32_t size = delta < 0 ? -delta : delta;
    return h + delta - (h - CAPTURE_HISTORY_START) * size / 5338;
}

// Continuation bonus: c + (64000 - c) * C / 32000.
constexpr uint16_t continuationAfterBonus(int32_t c, int32_t bonus) {
    return uint16_t(c + (64000 - c) * bonus / 32000);
}

// Continuation malus: c - c * C / 18000.
constexpr uint16_t continuationAfterMalus(int32_t c, int32_t bonus) {
    return uint16_t(c - c * bonus / 18000);
}

// A quiet move caused a cut-off: it becomes the counter move of the last move
// and the first killer of this ply (the old first killer moves down).
void updateQuietCutoff(const Position& pos, int ply, Move m);

// After the move loop, when a quiet move was best: the best quiet move gains
// main and continuation history, every other quiet move tried loses some.
void updateQuietStats(const Position& pos, Move best, const Move* quiets, int quietCount, int depth);

// After the move loop, when the node has a best move: the captures and
// promotions tried gain (the best one) or lose capture history.
void updateCaptureStats(const Position& pos, Move best, const Move* captures, int captureCount, int depth);

// The best-move bonus for one quiet move alone (the table cut-off).
void rewardQuietMove(const Position& pos, Move m, int depth);

// The continuation malus for one quiet move (a first move that failed low).
void punishContinuation(const Position& pos, Move m, int depth);

// Evaluation feedback: moves the main history of the move that produced pos
// by delta, clamped to +-2000, with the usual gravity.
void addLastMoveFeedback(const Position& pos, int delta);
