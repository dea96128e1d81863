// The staged move picker: hands the searches one move at a time, generating
// lazily stage by stage so that a cut-off by the table move or a capture never
// pays for generating quiet moves.
//
// A picker runs one sequence of stages from a fixed stage table. Each
// pseudo-legal move of the sequence's stages comes out once; whether it is
// legal is for makeMove to say.
#pragma once

#include <cstdint>

#include "board/position.h"

// Stage codes.
enum PickStage : uint8_t {
    STAGE_TABLE_MOVE = 1,  // the table move, when pseudo-legal
    STAGE_CAPTURES = 2,    // captures and promotions; losing captures deferred
    STAGE_KILLER_1 = 3,    // killers and counter move: pseudo-legal quiet
    STAGE_KILLER_2 = 4,    //   moves not returned before
    STAGE_COUNTER_MOVE = 5,
    STAGE_QUIETS = 6,               // quiet moves by combined history
    STAGE_EVASIONS = 7,             // every answer to a check, scored
    STAGE_QUIET_CHECKS = 8,         // quiet checking moves (futility mode)
    STAGE_SEVENTH_RANK_PUSHES = 9,  // the other pawn pushes onto the seventh rank
    STAGE_DEFERRED_CAPTURES = 10,   // the losing captures, in the order deferred
    STAGE_END = 11,
    STAGE_QSEARCH_CHECKS = 12,      // quiet checking moves (quiescence search)
    STAGE_ALL_CAPTURES = 13,        // captures and promotions without the exchange filter
    STAGE_PROBCUT_TABLE_MOVE = 14,  // the table move of ProbCut
    STAGE_PROBCUT_EXTRA = 15,       // further ProbCut captures: none beyond stage 13
};

// Start indexes of the stage sequences. Without a table move the caller passes
// the index + 1, which skips the table-move stage.
enum PickSequence : int {
    PICK_MAIN = 0,                // table, captures, killers, counter, quiets, deferred
    PICK_EVASIONS = 8,            // table, evasions, deferred
    PICK_QSEARCH = 12,            // table, all captures
    PICK_QSEARCH_CHECKS = 15,     // table, all captures, quiet checks
    PICK_FUTILITY = 19,           // table, captures, killer 1, counter, quiet checks, pushes
    PICK_FUTILITY_DEEP = 26,      // the same, then the deferred captures
    PICK_EVASIONS_NO_DEFER = 34,  // table, evasions
    PICK_PROBCUT = 37,            // ProbCut table move, all captures
};

struct MovePicker {
    const Position* pos;
    int nextStageIndex;  // index into the stage table of the stage after this one
    uint8_t stage;       // the stage now being read
    uint8_t lastStage;   // the stage that returned the latest move
    Move tableMove, killer1, killer2, counterMove;
    Move returned[4];  // what the single-move stages returned, for later stages to skip
    int readIndex, moveCount;
    int deferredRead, deferredCount;
    bool deferLosingCaptures;  // on unless the caller switches it off
    bool quietsOff;            // set by the search: the quiet stage returns nothing more
    MoveEntry moves[MAX_MOVES];
    Move deferred[MAX_MOVES];
};

// Starts a picker on pos at a sequence of the stage table. Moves that are not
// pseudo-legal may be passed as table move, killers or counter move (they come
// from shared or per-ply tables); they are tested before use.
void startPicker(MovePicker& picker, const Position& pos, int sequence, Move tableMove, Move killer1,
                 Move killer2, Move counterMove);

// Whether a single-move stage already returned m; the later stages skip it.
inline bool alreadyReturned(const MovePicker& picker, Move m) {
    return m == picker.returned[0] || m == picker.returned[1] || m == picker.returned[2] ||
           m == picker.returned[3];
}

// The stage machine behind nextMove: works through the stages until one
// yields a move, MOVE_NONE at the end of the sequence.
Move advancePicker(MovePicker& picker);

// The next move of the sequence, or MOVE_NONE when it is exhausted. The
// common case, the next entry of a generated list that needs no test beyond
// "not returned before", stays inline: perft and the searches call this once
// per move.
inline Move nextMove(MovePicker& picker) {
    bool needsTest = picker.quietsOff || (picker.stage == STAGE_CAPTURES && picker.deferLosingCaptures);
    if (!needsTest && picker.readIndex < picker.moveCount) {
        Move m = picker.moves[picker.readIndex++].move;
        if (!alreadyReturned(picker, m)) {
            picker.lastStage = picker.stage;
            return m;
        }
    }
    return advancePicker(picker);
}

// Whether the latest move came from the first capture stage, where losing
// captures were deferred: a capture that does not lose material.
inline bool isWinningCaptureStage(const MovePicker& picker) {
    return picker.lastStage == STAGE_CAPTURES && picker.deferLosingCaptures;
}

// Appends the quiet moves that give check (castling, pushes and piece moves;
// no promotions) and returns the new count.
int generateQuietChecks(const Position& pos, MoveEntry* list);
