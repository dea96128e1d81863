// Making moves, the check test for a move, and the static exchange tests.
#pragma once

#include "board/position.h"

// Makes m (pseudo-legal, or 0 for the null move) from parent into child.
// Returns false when the move leaves the mover's king attacked. Only the
// board is made: the search counts the node and links the child's
// continuation histories itself (search/search_move.h).
bool makeMove(const Position& parent, Position& child, Move m);

// Called by makeMove with the child as soon as its key is final (before the
// legality test), so that the search can start loading the table entries the
// child will probe. Registered by the search layer (search_thread.cpp).
extern void (*onChildKeyKnown)(const Position& child);

// Whether a pseudo-legal move checks the opponent's king.
bool givesCheck(const Position& pos, Move m);

// Whether the side to move has any legal move. When given, movesTried
// counts the moves made to find out (the search counts them as nodes).
bool hasLegalMove(const Position& pos, int* movesTried = nullptr);

// Static exchange tests on the destination square of m.
bool seeBad(const Position& pos, Move m);
bool seeBelow(const Position& pos, Move m, int margin);
bool seeBadFine(const Position& pos, Move m);
bool squareUnsafe(const Position& pos, Move m);
