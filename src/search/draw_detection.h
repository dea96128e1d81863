// Draws as the searches see them: insufficient material, repetitions and the
// fifty-move rule, and what a drawn move is worth.
//
// Positions are never unmade, so the game so far is the chain of parent
// links: through the search's own positions, the root, and back into the game
// history of the last "position" command.
#pragma once

#include "board/bitboard.h"
#include "board/position.h"
#include "search/search_move.h"
#include "search/search_session.h"
#include "search/search_state.h"

// No pawns and at most one minor piece on the board (phase below 5): nobody
// can force mate.
inline bool insufficientMaterial(const Position& pos) {
    return pos.phase < 5 && !(pos.pieces[WHITE][PAWN] | pos.pieces[BLACK][PAWN]);
}

// Whether pos repeats an earlier position at least `required` times. Only
// positions with the same side to move can match, and none beyond the last
// capture or pawn move, so the walk looks 4, 6, 8 ... plies back as far as
// pos.rule50 reaches (and stops where the chain of parents ends).
inline bool repeatsEarlierPosition(const Position& pos, int required) {
    const Position* earlier = &pos;
    int found = 0;
    for (int back = 2; back <= pos.rule50; back += 2) {
        earlier = earlier->parent ? earlier->parent->parent : nullptr;
        if (!earlier) return false;
        if (back >= 4 && earlier->key == pos.key && ++found >= required) return true;
    }
    return false;
}

// Whether the fifty-move rule draws pos: a hundred plies without a capture or
// pawn move, except that a checkmate given on the hundredth ply still counts
// as a mate. Needs pos.checkers.
inline bool fiftyMoveDraw(const Position& pos) {
    if (pos.rule50 < 100) return false;
    return pos.rule50 > 100 || !pos.checkers || searchHasLegalMove(pos);
}

// Whether the child a search has just made (with its checkers computed) is a
// draw by the fifty-move rule or by repeating an earlier position
// `repetitions` times.
inline bool childIsDrawn(const Position& child, int repetitions) {
    return fiftyMoveDraw(child) || repeatsEarlierPosition(child, repetitions);
}

// The value of a move into a drawn position, from the mover's side: the draw
// score of its colour, or -1 when the mover has nothing but its king.
inline Score drawnMoveScore(const Position& pos) {
    Color us = pos.sideToMove();
    if (pos.pieces[us][0] == pos.pieces[us][KING]) return -1;
    return drawScoreByColor[us];
}
