#include "board/bitboard.h"

Bitboard RookRays[64];
Bitboard BishopRays[64];
Bitboard QueenRays[64];
Bitboard AdjacentFilesUp[64];
Bitboard AdjacentFilesDown[64];

// Builds the empty-board rays of the sliders and the adjacent-file masks.
void initRayTables() {
    for (Square s = 0; s < 64; s++) {
        int f = fileOf(s), r = rankOf(s);
        RookRays[s] = (fileBB(f) | rankBB(r)) & ~squareBB(s);
        BishopRays[s] = 0;
        for (Square t = 0; t < 64; t++) {
            int df = fileOf(t) - f, dr = rankOf(t) - r;
            if (t != s && (df == dr || df == -dr)) BishopRays[s] |= squareBB(t);
        }
        QueenRays[s] = RookRays[s] | BishopRays[s];

        Bitboard sides = (f > 0 ? fileBB(f - 1) : 0) | (f < 7 ? fileBB(f + 1) : 0);
        Bitboard up = 0, down = 0;
        for (int rr = r; rr < 8; rr++) up |= rankBB(rr);
        for (int rr = r; rr >= 0; rr--) down |= rankBB(rr);
        AdjacentFilesUp[s] = sides & up;
        AdjacentFilesDown[s] = sides & down;
    }
}
