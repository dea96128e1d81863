// Move generation. Generated moves are pseudo-legal (the mover's king may be
// left attacked; making the move tells), except that castling is generated
// only when fully legal and evasions only answer the check. The entries'
// ordering keys are left to the move picker.
#pragma once

#include "board/bitboard.h"
#include "board/position.h"
#include "board/sliding_attacks.h"

// Every square attacked by `c`, sliders seen through `occ`.
Bitboard attackedBy(const Position& pos, Color c, Bitboard occ);

// Whether m could be made in pos (for table moves, killers and move text).
bool isPseudoLegal(const Position& pos, Move m);

// Each generator appends to `list` and returns the new count.
int generateAll(const Position& pos, MoveEntry* list);
int generateTactical(const Position& pos, MoveEntry* list);
int generateQuiet(const Position& pos, MoveEntry* list);
int generateEvasions(const Position& pos, MoveEntry* list);
int sliderQuietMoves(Square s, Bitboard occ, bool isRook, MoveEntry* list);

// Attacks of a knight, bishop, rook, queen or king on s, sliders seen through occ.
inline Bitboard pieceAttacks(PieceType t, Square s, Bitboard occ) {
    switch (t) {
        case KNIGHT:
            return KnightAttacks[s];
        case BISHOP:
            return bishopAttacks(s, occ);
        case ROOK:
            return rookAttacks(s, occ);
        case QUEEN:
            return queenAttacks(s, occ);
        default:
            return KingAttacks[s];
    }
}
