// Making a move inside the search: the board move (board/make_move.h) plus
// what only the search keeps — the owning thread's node count and node
// limit, the child's continuation-history slices, and early loads of the
// table entries the child will probe.
#pragma once

#include <atomic>

#include "board/make_move.h"
#include "core/options.h"
#include "eval/eval_hash_tables.h"
#include "search/history.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "tt/transposition_table.h"

// Counts a node for the thread that owns the position and raises its stop flag
// when the node limit is reached (a limit of -1 never triggers).
inline void countNode(const Position& parent) {
    SearchThread& thread = *searchThreads[parent.threadIndex];
    if (thread.stop.load(std::memory_order_relaxed)) return;
    uint64_t nodes = thread.nodes.load(std::memory_order_relaxed) + 1;
    thread.nodes.store(nodes, std::memory_order_relaxed);
    if (nodes >= uint64_t(nodeLimit)) thread.stop.store(true);
}

// The continuation slices of a freshly made child: one and two moves back
// come from its ancestors (the "no move" row where the chain ends), its own
// slice from the piece that moved and where it went (castling: the king and
// the rook's square). The search refines the child's own slice by its check
// state once it knows it (setContinuationSlice).
inline void linkContinuation(const Position& parent, Position& child) {
    HistoryTable& history = *parent.history;
    child.contHist[1] = parent.contHist[0];
    child.contHist[2] =
        parent.parent ? parent.parent->contHist[1] : noMoveSlice(history, ~parent.sideToMove());
    Move m = Move(child.lastMove);
    child.contHist[0] = m == MOVE_NONE
                            ? noMoveSlice(history, child.sideToMove())
                            : &history.continuation[0][child.capturedType != 0][child.movedPiece][moveTo(m)];
}

// Starts loading the child's table cluster and, for the hand-written
// evaluation, its pawn-hash slot (the network path has no use for it).
// makeMove calls it as soon as the child's key is final (onChildKeyKnown).
inline void prefetchChildEntries(const Position& child) {
    prefetchTTEntry(child.key);
    if (useRegularEval && child.pawnTable)
        __builtin_prefetch(&child.pawnTable->entries[child.pawnKey & pawnHashMask]);
}

// Makes m (pseudo-legal, or the null move) for the search: counts the node,
// makes the move, and for a legal move links the continuation slices. False
// when the move is illegal.
inline bool makeSearchMove(const Position& parent, Position& child, Move m) {
    countNode(parent);
    if (!makeMove(parent, child, m)) return false;
    linkContinuation(parent, child);
    return true;
}

// Whether the side to move has a legal move, counting a node for every move
// tried, as making them in the search would.
inline bool searchHasLegalMove(const Position& pos) {
    int tried = 0;
    bool found = hasLegalMove(pos, &tried);
    for (int i = 0; i < tried; i++) countNode(pos);
    return found;
}
