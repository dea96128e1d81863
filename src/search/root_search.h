// The root of the alpha-beta search: the root move list, one search of all
// root moves for one depth and window (rootSearch), and the aspiration loop
// that runs one iteration of iterative deepening (searchIteration).
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/score.h"
#include "search/search_output.h"
#include "search/search_state.h"
#include "search/search_thread.h"

// One root move: the last score the root search gave it, and whether an
// earlier multi-PV line of this iteration already used it.
struct RootMove {
    uint32_t move;  // a Move in the low 16 bits; 0 ends the list
    int32_t score;
    uint8_t excluded;
};

// The legal maximum is 218 moves; the list keeps one more entry for its end mark.
constexpr int MAX_ROOT_MOVES = 219;
// Iterations run from 1 to 99; index 0 holds the score a thread starts from.
constexpr int MAX_ITERATIONS = 100;

// What one thread's iterative deepening keeps at the root.
struct RootSearchState {
    RootMove moves[MAX_ROOT_MOVES + 1];  // the thread's copy of the root moves, 0-terminated
    int32_t iterationScore[MAX_ITERATIONS];
    Move iterationPv[MAX_ITERATIONS][PV_BUFFER_SIZE];
    int32_t pvLine;          // the multi-PV line being searched, 1-based
    int32_t movesCompleted;  // root moves the last rootSearch call finished
    PvBound lastBound;       // how the last rootSearch result bounds the root's value
    // A private copy of the root's parent, so that the continuation slices
    // the searches reach through it belong to this thread's own tables.
    Position rootParent;
};

// The root state of search thread `index`.
RootSearchState& rootSearchState(int index);

// Copies `root` (with its move list `moves`) into the thread's first ply
// record and root state, pointing the position at the thread's own tables.
// Returns the thread's root position.
Position& prepareThreadRoot(SearchThread& thread, const Position& root, const RootMove* moves);

// Searches every root move of the thread's list that is not excluded with
// depth `depth` (half plies) and window (alpha, beta). Stores each move's
// score, fills pv with the principal variation, prints each new best line on
// thread 0 and reorders the list for the next iteration. Returns the best
// score; 0 when stopped; the mate or draw score when the root has no move.
Score rootSearch(Position& pos, int depth, Score alpha, Score beta, Move* pv);

// One iteration of iterative deepening on the thread that owns pos: a full
// window for the first four iterations, then aspiration windows around the
// last iteration's score that widen on every fail. Stores the score and
// principal variation of the iteration unless the search was stopped.
void searchIteration(Position& pos, int iteration);
