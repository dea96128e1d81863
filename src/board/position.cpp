#include "board/position.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/bitboard.h"
#include "board/make_move.h"
#include "board/movegen.h"
#include "board/psq_table.h"
#include "board/sliding_attacks.h"
#include "board/zobrist.h"
#include "core/options.h"

int32_t castleRookSquare[4] = {H1, A1, H8, A8};
uint8_t CastleMask[64];
Bitboard castlePath[4];

Position GameHistory[GAME_HISTORY_SIZE];
int historyIndex = 0;
void (*onPositionSetUp)(Position& pos) = nullptr;

namespace {

Piece pieceFromLetter(char c) {
    const char* letters = " PNBRQK  pnbrqk";
    const char* found = c ? std::strchr(letters, c) : nullptr;
    return found && *found != ' ' ? Piece(found - letters) : NO_PIECE;
}

void putPiece(Position& pos, Piece p, Square s) {
    Color c = colorOf(p);
    pos.board[s] = uint8_t(p);
    pos.pieces[c][typeOf(p)] |= squareBB(s);
    pos.pieces[c][0] |= squareBB(s);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

const char* skipBlanks(const char* p) {
    while (isBlank(*p)) p++;
    return p;
}

// Squares from lo to hi inclusive, on one rank.
Bitboard squaresFromTo(Square lo, Square hi) {
    Bitboard b = 0;
    for (Square s = lo; s <= hi; s++) b |= squareBB(s);
    return b;
}

// Grants castling right r with its rook on rookSq: clears the lost bit, marks
// the rook square and computes the squares that must be empty.
void grantCastling(Position& pos, int r, Square rookSq) {
    Color c = Color(r >> 1);
    Square king = pos.kingSquare[c];
    // A right needs its own rook on the named square and the king on the same
    // back rank; anything else would let castling move pieces that are not there.
    if (pos.board[rookSq] != makePiece(c, ROOK) || pos.board[king] != makePiece(c, KING) ||
        rankOf(king) != rankOf(rookSq) || relativeRank(c, king) != 0)
        return;

    castleRookSquare[r] = rookSq;
    pos.castleLost &= uint8_t(~(1 << r));
    CastleMask[rookSq] = uint8_t(1 << r);

    bool kingSide = (r & 1) == 0;
    Square kingTo = CastleKingTo[r], rookTo = CastleRookTo[r];
    Square lo = kingSide ? std::min(king, rookTo) : std::min(rookSq, kingTo);
    Square hi = kingSide ? std::max(rookSq, kingTo) : std::max(king, rookTo);
    castlePath[r] = squaresFromTo(lo, hi) & ~squareBB(king) & ~squareBB(rookSq);
}

// The nearest rook of colour c on the king's rank, to the right (step +1) or left (-1).
Square nearestRook(const Position& pos, Color c, int step) {
    Square king = pos.kingSquare[c];
    for (int f = fileOf(king) + step; f >= 0 && f < 8; f += step) {
        Square s = makeSquare(f, rankOf(king));
        if (pos.board[s] == makePiece(c, ROOK)) return s;
    }
    return SQ_NONE;
}

Key computeKey(const Position& pos) {
    Key key = SideKey[pos.sideToMove()] ^ ZobristCastle[pos.castleLost];
    for (Square s = 0; s < 64; s++)
        if (Piece p = pos.board[s]) key ^= ZobristPiece[colorOf(p)][typeOf(p)][s];
    return key;
}

}  // namespace

// Every piece of either colour that attacks s, sliders seen through occ.
Bitboard attackersTo(const Position& pos, Square s, Bitboard occ) {
    Bitboard bishops = pos.pieces[WHITE][BISHOP] | pos.pieces[BLACK][BISHOP] | pos.pieces[WHITE][QUEEN] |
                       pos.pieces[BLACK][QUEEN];
    Bitboard rooks = pos.pieces[WHITE][ROOK] | pos.pieces[BLACK][ROOK] | pos.pieces[WHITE][QUEEN] |
                     pos.pieces[BLACK][QUEEN];
    return (PawnAttacks[BLACK][s] & pos.pieces[WHITE][PAWN]) |
           (PawnAttacks[WHITE][s] & pos.pieces[BLACK][PAWN]) |
           (KnightAttacks[s] & (pos.pieces[WHITE][KNIGHT] | pos.pieces[BLACK][KNIGHT])) |
           (KingAttacks[s] & (pos.pieces[WHITE][KING] | pos.pieces[BLACK][KING])) |
           (bishopAttacks(s, occ) & bishops) | (rookAttacks(s, occ) & rooks);
}

Bitboard computeCheckers(const Position& pos) {
    Color us = pos.sideToMove();
    return attackersTo(pos, pos.kingSquare[us], pos.occupied) & pos.pieces[~us][0];
}

void refreshPhaseAndPsq(Position& pos) {
    constexpr int PhaseWeight[8] = {0, 0, 3, 4, 8, 18, 0, 0};
    pos.phase = 0;
    pos.psqScore = 0;
    for (Square s = 0; s < 64; s++) {
        Piece p = pos.board[s];
        if (!p) continue;
        pos.phase = int16_t(pos.phase + PhaseWeight[typeOf(p)]);
        pos.psqScore += PsqTable[p][s];
    }
}

// Sets up a position from FEN text. Only the first four fields are read; the
// move counters are not (the fifty-move counter starts at 0).
void setFromFen(Position& out, const char* fen) {
    // Step 1: a clean record.
    std::memset(static_cast<void*>(&out), 0, POSITION_COPY_BYTES);
    std::memset(castlePath, 0, sizeof(castlePath));
    out.computed[WHITE] = out.computed[BLACK] = false;
    out.castleLost = 15;
    out.nullMoveSide = 2;
    out.doubleExtensionsLeft = 7;
    out.dirtyPieces.to[0] = out.dirtyPieces.to[1] = out.dirtyPieces.to[2] = SQ_NONE;
    out.dirtyPieces.from[0] = out.dirtyPieces.from[1] = out.dirtyPieces.from[2] = SQ_NONE;

    // Step 2: at most 254 characters; empty text means the start position.
    char text[256];
    std::snprintf(text, sizeof(text), "%.254s", fen && *fen ? fen : START_FEN);
    const char* p = skipBlanks(text);

    // Step 3: placement from a8. Anything that would land off the board is dropped.
    int s = 56;
    for (; *p && !isBlank(*p); p++) {
        if (*p >= '1' && *p <= '8')
            s += *p - '0';
        else if (*p == '/')
            s = (s - 16 >= 0 ? s - 16 : s - 9) & ~7;
        else if (Piece piece = pieceFromLetter(*p)) {
            if (s >= 0 && s < 64 && out.board[s] == NO_PIECE) putPiece(out, piece, s);
            s++;
        }
        if (s < -64 || s > 128) s = 128;  // keep the arithmetic bounded on garbage
    }

    // Step 4: king squares (the lowest king; 0 when there is none).
    for (Color c : {WHITE, BLACK}) out.kingSquare[c] = out.pieces[c][KING] ? lsb(out.pieces[c][KING]) : 0;

    // Step 5: side to move.
    p = skipBlanks(p);
    if (*p == 'w')
        out.gamePly = 0;
    else if (*p == 'b')
        out.gamePly = 1;
    else {
        std::fprintf(stderr, "Error in ctm for fen \"%s\"", text);
        std::fflush(stderr);
        std::exit(1);
    }
    p++;

    // Step 6: default castling rook squares, then the nearest rooks beside each king.
    castleRookSquare[WHITE_OO] = H1;
    castleRookSquare[WHITE_OOO] = A1;
    castleRookSquare[BLACK_OO] = H8;
    castleRookSquare[BLACK_OOO] = A8;
    std::memset(CastleMask, 0, sizeof(CastleMask));
    CastleMask[out.kingSquare[WHITE]] = 3;
    CastleMask[out.kingSquare[BLACK]] = 12;
    for (Color c : {WHITE, BLACK}) {
        if (relativeRank(c, out.kingSquare[c]) != 0) continue;
        Square right = nearestRook(out, c, 1), left = nearestRook(out, c, -1);
        if (right != SQ_NONE) castleRookSquare[2 * c] = right;
        if (left != SQ_NONE) castleRookSquare[2 * c + 1] = left;
    }

    // Step 7: castling rights, as KQkq or as rook file letters.
    p = skipBlanks(p);
    for (; *p && !isBlank(*p); p++) {
        char ch = *p;
        Color c = std::isupper(static_cast<unsigned char>(ch)) ? WHITE : BLACK;
        char lower = char(std::tolower(static_cast<unsigned char>(ch)));
        if (lower == 'k')
            grantCastling(out, 2 * c, castleRookSquare[2 * c]);
        else if (lower == 'q')
            grantCastling(out, 2 * c + 1, castleRookSquare[2 * c + 1]);
        else if (lower >= 'a' && lower <= 'h') {
            Square rookSq = makeSquare(lower - 'a', c == WHITE ? 0 : 7);
            bool kingSide = fileOf(rookSq) > fileOf(out.kingSquare[c]);
            grantCastling(out, 2 * c + (kingSide ? 0 : 1), rookSq);
        }
    }

    // Step 8: occupancy, piece count and check.
    out.occupied = out.pieces[WHITE][0] | out.pieces[BLACK][0];
    out.pieceCount = popcount(out.occupied);
    out.checkers = computeCheckers(out);

    // Steps 9-11: keys and material signatures.
    out.key = computeKey(out);
    out.pawnKey = ZobristCastle[out.castleLost];
    out.materialKey = out.materialCountKey = 0;
    for (Square sq = 0; sq < 64; sq++) {
        Piece piece = out.board[sq];
        if (!piece) continue;
        Color c = colorOf(piece);
        PieceType t = typeOf(piece);
        out.pawnKey ^= PawnZobrist[c][t][sq];
        out.materialKey += Key(MaterialSignature[c][t][squareColor(sq)]);
        out.materialCountKey += Key(MaterialSignature[c][t][0]);
    }

    // The material phase and the piece-square sum, so that a position set up
    // from text evaluates like one reached by moves.
    refreshPhaseAndPsq(out);

    // Step 12: en passant. The square is only taken when it is consistent (a
    // pawn of the opponent stands in front of it and the square it came from
    // is empty); otherwise a capture there would remove a pawn that is not there.
    p = skipBlanks(p);
    if (p[0] >= 'a' && p[0] <= 'h' && p[1] >= '1' && p[1] <= '8') {
        Square e = makeSquare(p[0] - 'a', p[1] - '1');
        Color us = out.sideToMove(), them = ~us;
        int push = PawnPush[them];
        if (relativeRank(them, e) == 2 && out.board[e] == NO_PIECE &&
            out.board[e + push] == makePiece(them, PAWN) && out.board[e - push] == NO_PIECE) {
            out.lastMove = encodeMove(e - push, e + push);
            if (PawnAttacks[them][e] & out.pieces[us][PAWN]) {
                out.epBitboard = squareBB(e);
                out.key ^= ZobristEp[e];
            }
        }
    }
    // Step 13: the move counters are not read.

    // Step 14: the tables the position is searched with.
    if (onPositionSetUp) onPositionSetUp(out);
}

char* writePlacement(const uint8_t board[64], char* out) {
    char* o = out;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            Piece p = board[makeSquare(file, rank)];
            if (!p) {
                empty++;
                continue;
            }
            if (empty) *o++ = char('0' + empty);
            empty = 0;
            *o++ = " PNBRQK  pnbrqk"[p];
        }
        if (empty) *o++ = char('0' + empty);
        if (rank) *o++ = '/';
    }
    *o = '\0';
    return o;
}

void writeFen(const Position& pos, char* out) {
    char* o = writePlacement(pos.board, out);
    o += std::sprintf(o, pos.sideToMove() == WHITE ? " w " : " b ");
    if (pos.castleLost == 15) *o++ = '-';
    for (int r = 0; r < 4; r++)
        if (!(pos.castleLost & (1 << r))) *o++ = "KQkq"[r];
    *o++ = ' ';
    if (pos.epBitboard) {
        Square e = lsb(pos.epBitboard);
        *o++ = char('a' + fileOf(e));
        *o++ = char('1' + rankOf(e));
    } else
        *o++ = '-';
    std::sprintf(o, " %d %d", pos.rule50, pos.gamePly / 2 + 1);
}

void moveToText(Move m, char* out) {
    if (m == MOVE_NONE) {
        std::strcpy(out, "0000");
        return;
    }
    Square from = moveFrom(m), to = moveTo(m);
    if (moveKind(m) == CASTLING && !chess960) to = makeSquare(to > from ? 6 : 2, rankOf(from));
    out[0] = char('a' + fileOf(from));
    out[1] = char('1' + rankOf(from));
    out[2] = char('a' + fileOf(to));
    out[3] = char('1' + rankOf(to));
    out[4] = isPromotion(m) ? "qnrb"[moveKind(m) - PROMO_QUEEN] : '\0';
    out[5] = '\0';
}

// Reads UCI move text: first as a direct candidate, then by matching the text
// of every pseudo-legal move (which finds castling and en passant).
bool parseAndMakeMove(const Position& from, Position& to, const char* text) {
    auto onBoard = [](const char* sq) {
        return sq[0] >= 'a' && sq[0] <= 'h' && sq[1] >= '1' && sq[1] <= '8';
    };

    // Step 1: a candidate from the squares and the promotion letter.
    if (std::strlen(text) >= 4 && onBoard(text) && onBoard(text + 2)) {
        Square f = makeSquare(text[0] - 'a', text[1] - '1');
        Square t = makeSquare(text[2] - 'a', text[3] - '1');
        MoveKind kind = NORMAL;
        if (from.board[f] == makePiece(from.sideToMove(), PAWN) && (f - t == 16 || t - f == 16))
            kind = DOUBLE_PUSH;
        const char* promo = text[4] ? std::strchr("qnrb", text[4]) : nullptr;
        if (promo) kind = MoveKind(PROMO_QUEEN + (promo - "qnrb"));
        Move m = encodeMove(f, t, kind);

        // Step 2: take it when it is valid and legal.
        if (isPseudoLegal(from, m) && makeMove(from, to, m)) {
            to.checkers = computeCheckers(to);
            return true;
        }
    }

    // Step 3: compare with the text of every pseudo-legal move.
    MoveEntry list[MAX_MOVES];
    int count = generateAll(from, list);
    for (int i = 0; i < count; i++) {
        char moveText[6];
        moveToText(list[i].move, moveText);
        if (strcasecmp(moveText, text) != 0) continue;
        if (!makeMove(from, to, list[i].move)) {
            std::fprintf(stderr, "Cannot execute move %s\n", text);
            return false;
        }
        // Step 4: the check status of the new position.
        to.checkers = computeCheckers(to);
        return true;
    }
    return false;
}

// Rejects positions the engine cannot play sensibly: a missing or extra king,
// more than sixteen pieces a side, pawns on a back rank, or the side that is
// not to move standing in check. Returns null when the position is sound.
const char* positionProblem(const Position& pos) {
    for (Color c : {WHITE, BLACK}) {
        if (popcount(pos.pieces[c][KING]) != 1) return "each side needs exactly one king";
        if (popcount(pos.pieces[c][0]) > 16) return "a side has more than 16 pieces";
        if (pos.pieces[c][PAWN] & LastRanks) return "a pawn stands on the first or last rank";
    }
    Color them = ~pos.sideToMove();
    if (attackersTo(pos, pos.kingSquare[them], pos.occupied) & pos.pieces[pos.sideToMove()][0])
        return "the side not to move is in check";
    return nullptr;
}
