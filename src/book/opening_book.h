// Playing from a Polyglot opening book: the open book file, the per-search
// depth limit and the probe the think driver makes once per search.
//
// The file is untrusted input. It is read entry by entry on every probe
// (16-byte big-endian records sorted by key), every read is bounded by the
// file's size at the time of the probe, and a move that is not legal in the
// position makes the probe give nothing. A file that cannot be read any more
// (cut short or failing while the engine runs) is reported once on standard
// error and closed; the game goes on without a book.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "board/types.h"

// Full moves of the game for which the book is consulted in this search; the
// think driver sets it from "Book Moves" or the strength level.
extern int32_t bookMovesLimit;

// Closes the open book and, when "Book Moves" is not 0, opens "Book File" for
// reading. A file that cannot be opened leaves no book open, silently.
void reopenBook();

// Whether a book file is open.
bool bookIsOpen();

// A book move of a position with its weight.
struct BookMove {
    Move move;
    uint32_t weight;
};

// Enough for every entry of a position in a sound book (one per legal move).
constexpr int MAX_BOOK_MOVES = MAX_MOVES;

// The book's moves for `pos` with nonzero weight, in file order; returns their
// number. 0 when the book has no entry for the position, when every entry has
// weight 0, and when any entry names a move that is not legal there (a key
// collision or a damaged book discredits the position's entries). A position
// with more entries than MAX_BOOK_MOVES keeps the first ones. Ignores the
// "OwnBook" and "Book Moves" limits.
int collectBookMoves(const Position& pos, BookMove* out);

// Chooses among `count` (> 0) book moves in proportion to their weights with
// `random15` (0 ... 32767): the first move whose running weight sum exceeds
// random15 * total / 32767 (the last move when none does). With
// `heaviestOnly` the list is first reordered by weight, heaviest first, and
// cut after the leading run of equal weights.
Move chooseBookMove(BookMove* moves, int count, bool heaviestOnly, int random15);

// One legal move from the book for `pos`, chosen at random in proportion to
// the entries' weights (only among the heaviest with "Best Book Line"), or
// MOVE_NONE. Reads "OwnBook", "Best Book Line" and "UCI_Chess960"; draws from
// the C library generator.
Move probeBook(const Position& pos);
