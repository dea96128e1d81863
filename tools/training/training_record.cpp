#include "training/training_record.h"

#include <cstdio>
#include <cstring>

#include "board/bitboard.h"

TrainingRecord packRecord(const Position& pos, int score, RecordResult result, bool noisyBestMove,
                          int generation) {
    TrainingRecord r{};
    r.occupancy = pos.occupied;
    int i = 0;
    for (Bitboard b = pos.occupied; b; i++) {
        Square s = popLsb(b);
        r.pieces[i / 2] = uint8_t(r.pieces[i / 2] | (pos.board[s] << (4 * (i & 1))));
    }
    r.score = int16_t(score);
    r.result = result;
    r.flags = uint8_t(pos.sideToMove() == BLACK ? RECORD_BLACK_TO_MOVE : 0);
    if (noisyBestMove) r.flags |= RECORD_NOISY_BEST_MOVE;
    if (computeCheckers(pos)) r.flags |= RECORD_IN_CHECK;
    r.ply = pos.gamePly;
    r.phase = uint8_t(pos.phase);
    r.generation = uint8_t(generation);
    return r;
}

bool unpackBoard(const TrainingRecord& record, Piece board[64]) {
    if (record.pieceCount() > 32) return false;
    std::memset(board, 0, 64 * sizeof(Piece));
    int kings[2] = {0, 0}, i = 0;
    for (Bitboard b = record.occupancy; b; i++) {
        Square s = popLsb(b);
        Piece p = record.piece(i);
        if (typeOf(p) == NO_PIECE_TYPE || typeOf(p) == 7) return false;
        if (typeOf(p) == KING) kings[colorOf(p)]++;
        board[s] = p;
    }
    return kings[WHITE] == 1 && kings[BLACK] == 1;
}

bool recordToFen(const TrainingRecord& record, char* out) {
    Piece board[64];
    if (!unpackBoard(record, board)) return false;
    uint8_t squares[64];
    for (Square s = 0; s < 64; s++) squares[s] = uint8_t(board[s]);
    char* o = writePlacement(squares, out);
    std::sprintf(o, " %c - - 0 %d", record.sideToMove() == WHITE ? 'w' : 'b', record.ply / 2 + 1);
    return true;
}
