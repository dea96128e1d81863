// Making moves, the check test for a move, and the static exchange tests.
#pragma once

#include "board/position.h"

// Makes m (pseudo-legal, or 0 for the null move) from parent into child.
// Returns false when the move leaves the mover's king attacked.
bool makeMove(const Position& parent, Position& child, Move m);

// Whether a pseudo-legal move checks the opponent's king.
bool givesCheck(const Position& pos, Move m);

// Whether the side to move has any legal move.
bool hasLegalMove(const Position& pos);

// Static exchange tests on the destination square of m.
bool seeBad(const Position& pos, Move m);
bool seeBelow(const Position& pos, Move m, int margin);
bool seeBadFine(const Position& pos, Move m);
bool squareUnsafe(const Position& pos, Move m);
