// Ranking the root moves by the tables: keep only the moves that hold the
// root's result (converting a win within the fifty-move rule, defending a
// loss longest) and give the score to report for the root.
#pragma once

#include <cstdint>

#include "board/position.h"

// One kept root move: the move, its distance (DTZ ranking) or WDL value from
// the root side's view, and a spare field (0). A move of 0 ends the list.
struct TablebaseRootMove {
    uint32_t move;
    int32_t value;
    int32_t spare;
};

// Room for every legal move and the end mark.
constexpr int MAX_TABLEBASE_ROOT_MOVES = 220;

// By distance to zeroing: fills `out` with the kept moves, best ranked first,
// sets *score to the root's reported score and returns how many moves were
// kept; 0 when a probe failed (the caller then searches normally).
int rootProbeDtz(const Position& root, TablebaseRootMove* out, int32_t* score);

// By win/draw/loss alone: keeps the moves of the best value, in generated
// order. Same results as rootProbeDtz.
int rootProbeWdl(const Position& root, TablebaseRootMove* out, int32_t* score);
