// The position record, the game-wide castling set-up and the game history.
//
// Positions are never unmade: making a move copies the first part of the
// parent record (everything before `accumulation`) into a child and edits the
// copy. A position is therefore a self-contained value plus a parent link,
// which the repetition tests follow back through the game.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/types.h"

// The tables of the thread that owns a position (its hash tables, move
// statistics and accumulator cache). A position set up from text gets those
// of the main search thread (onPositionSetUp); making a move copies them to
// the child.
struct PawnHashTable;
struct MaterialHashTable;
struct HistoryTable;
struct PieceToHistory;
struct AccumulatorCache;

// What making a move changed on the board, for the network's incremental update.
struct DirtyPieces {
    uint8_t count;
    uint8_t piece[3];
    uint8_t from[3];  // SQ_NONE = the piece appears
    uint8_t to[3];    // SQ_NONE = the piece disappears
};

struct Position {
    Bitboard checkers;      // enemy pieces attacking our king (see makeMove for when it is valid)
    Bitboard pieces[2][7];  // [colour][0] = all pieces of the colour
    Bitboard occupied;
    uint8_t board[64];
    int32_t kingSquare[2];
    Bitboard epBitboard;  // en-passant target, only when a pawn of the side to move can take there
    Key key;
    Key pawnKey;
    Key materialKey;       // additive material signature, bishops by square colour
    Key materialCountKey;  // the same without bishop colours
    int64_t psqScore;      // ScorePair, White's point of view
    const Position* parent;
    PawnHashTable* pawnTable;
    MaterialHashTable* materialTable;
    AccumulatorCache* accumulatorCache;
    HistoryTable* history;
    PieceToHistory* contHist[3];  // continuation slices 1, 2 and 4 plies back
    uint32_t lastMove;
    int32_t staticEval;
    int32_t statScore;
    int32_t cachedPositional;
    int32_t pieceCount;
    uint16_t movedPiece;
    uint16_t capturedType;
    uint16_t gamePly;  // bit 0 = side to move
    int16_t phase;
    uint16_t rule50;
    uint16_t threadIndex;
    uint8_t castleLost;  // bits: white OO, white OOO, black OO, black OOO
    uint8_t nullMoveMinPly;
    uint8_t nullMoveSide;
    uint8_t unusedSearchByte;
    uint8_t doubleExtensionsLeft;
    DirtyPieces dirtyPieces;

    // Everything from here on is per-node scratch that making a move does not
    // copy: the network's feature-transformer sums of this position, valid per
    // perspective when `computed` says so (making a move clears both flags;
    // the network brings them up to date from the parent chain when it evaluates).
    alignas(64) int16_t accumulation[2][1536];
    int32_t psqtAccumulation[2][8];
    bool computed[2];

    Color sideToMove() const { return Color(gamePly & 1); }
    Bitboard ours(PieceType t) const { return pieces[sideToMove()][t]; }
    Bitboard theirs(PieceType t) const { return pieces[sideToMove() ^ 1][t]; }
    Piece pieceOn(Square s) const { return board[s]; }
};

// The part of the record that makeMove copies.
constexpr size_t POSITION_COPY_BYTES = offsetof(Position, accumulation);
static_assert(POSITION_COPY_BYTES == 384, "the copied part of a position is six cache lines");

// Game-wide castling set-up, written by every FEN set-up (there is one game at a time).
extern int32_t castleRookSquare[4];  // per right: white OO, white OOO, black OO, black OOO
extern uint8_t CastleMask[64];       // castleLost bits a move from/to the square removes
extern Bitboard castlePath[4];       // squares that must be empty to castle

// The standard starting position.
inline constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Called with every position set up from text, once the board is complete.
// The search layer registers the function that attaches it to the main search
// thread's tables (search_thread.cpp), so that a position set up anywhere can
// be searched; while none is registered the position names no tables.
extern void (*onPositionSetUp)(Position& pos);

// Sets up `out` from FEN text (an empty text gives the start position). A bad
// side-to-move letter is fatal ("Error in ctm for fen"); other malformed
// placement text is read safely and may give an odd but consistent position.
void setFromFen(Position& out, const char* fen);

// Recomputes the material phase and the piece-square sum from the board.
void refreshPhaseAndPsq(Position& pos);

// Returns null for a playable position, else a short reason why it is not.
const char* positionProblem(const Position& pos);

// Writes the piece-placement field of a FEN for a 64-square board (a1 first)
// into `out` and returns the end of the text (its terminating zero).
char* writePlacement(const uint8_t board[64], char* out);

// Writes the FEN of a position into `out` (at least 100 bytes).
void writeFen(const Position& pos, char* out);

// UCI text of a move (e2e4, e7e8q, castling as e1g1 or, in Chess960, e1h1); "0000" for none.
// `out` must hold at least 6 bytes.
void moveToText(Move m, char* out);

// Reads UCI move text and makes the move from `from` into `to`. Returns false
// (and leaves `to` unspecified) when the text names no legal move.
bool parseAndMakeMove(const Position& from, Position& to, const char* text);

// Attackers of `s` by both colours, with sliders seen through `occ`.
Bitboard attackersTo(const Position& pos, Square s, Bitboard occ);

// Enemy pieces attacking the king of the side to move.
Bitboard computeCheckers(const Position& pos);

// The game from the last "position" command.
constexpr int GAME_HISTORY_SIZE = 2048;
extern Position GameHistory[GAME_HISTORY_SIZE];
extern int historyIndex;
