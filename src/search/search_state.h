// The fixed bounds of the alpha-beta search and the few small rules the
// node searches and the quiescence search share. What one search sets up
// (draw scores, mode flags, limits) is in search_session.h, the reduction and
// history-bonus tables in search_tables.h, the per-thread statistics in each
// thread's HistoryTable.
#pragma once

#include <algorithm>
#include <cstdint>

#include "board/position.h"
#include "core/engine_state.h"
#include "eval/score.h"
#include "search/search_output.h"

// Move pruning in the node searches stops above this depth (half plies).
constexpr int PRUNE_DEPTH_LIMIT = 23;

// Evaluation window that asks for the exact value.
constexpr Score FULL_WINDOW = 35000;

// A table entry ends a node only while the fifty-move counter is below this:
// nearer the limit the stored value may no longer hold.
constexpr int TABLE_CUTOFF_RULE50_LIMIT = 90;

// The deepest ply a search reaches; a node there returns its static value.
// Nodes clear the killers two plies ahead, which the killer table has room for.
constexpr int MAX_PLY = 200;

// A principal-variation buffer: at most MAX_PV_MOVES moves and a 0 terminator.
constexpr int PV_BUFFER_SIZE = MAX_PV_MOVES + 1;

// A fresh evaluation shrinks as the fifty-move counter grows, so that the
// search prefers progress to shuffling in a won position.
inline Score scaleByRule50(Score eval, int rule50) {
    return eval * Rule50Scale[std::min(rule50, 100)] / 100;
}

// Whether a move takes a piece (en passant included; castling "captures" its
// own rook in the encoding and is not a capture).
inline bool isCaptureMove(const Position& pos, Move m) {
    MoveKind kind = moveKind(m);
    return kind == EN_PASSANT || (kind != CASTLING && pos.board[moveTo(m)] != NO_PIECE);
}

// Promotions to knight, rook or bishop, which the searches mostly leave out.
inline bool isUnderPromotion(Move m) {
    return moveKind(m) >= PROMO_KNIGHT;
}

// Whether side c has nothing but its king and pawns (null moves and most
// pruning are unsafe there: zugzwang is common).
inline bool hasOnlyKingAndPawns(const Position& pos, Color c) {
    return pos.pieces[c][0] == (pos.pieces[c][KING] | pos.pieces[c][PAWN]);
}

// Writes m followed by the child's principal variation (when given) into pv,
// keeping at most MAX_PV_MOVES moves and the terminator.
inline void copyPv(Move* pv, Move m, const Move* childPv) {
    pv[0] = m;
    int n = 0;
    if (childPv)
        for (; n < MAX_PV_MOVES - 1 && childPv[n] != MOVE_NONE; n++) pv[n + 1] = childPv[n];
    pv[n + 1] = MOVE_NONE;
}
