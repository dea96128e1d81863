// Win/draw knowledge for king and pawn against king, generated at start-up by
// retrograde analysis. Positions are given with the pawn side as White.
#pragma once

#include "board/types.h"

// Solves every king-and-pawn-versus-king position. Run once at start-up
// (about a millisecond); probes before it answer "no win".
void buildKpkBitbase();

// Whether White wins with best play from the given legal position: white king,
// white pawn (2nd to 7th rank), black king and the side to move. Illegal
// positions answer false.
bool kpkWhiteWins(Square whiteKing, Square whitePawn, Square blackKing, Color sideToMove);
