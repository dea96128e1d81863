// Tables and tuning values the alpha-beta searches read: late-move
// reductions, late-move counts, quiet exchange margins, history bonuses, the
// futility multiplier and the history offset.
//
// Depths are in half plies (one ply = 2). The tables are process-wide,
// written on the main thread between searches and read by every search thread
// without locks.
#pragma once

#include <cstdint>

constexpr int REDUCTION_DEPTHS = 127;      // depth 1..126; row 0 stays 0
constexpr int REDUCTION_MOVES = 64;        // move number 1..63; column 0 stays 0
constexpr int LATE_MOVE_DEPTHS = 24;       // depth 0..23; row 23 never prunes
constexpr int HISTORY_BONUS_DEPTHS = 200;  // depth 0..199

// [improving][depth][move number], always even (whole plies).
extern int32_t reductionTable[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
// The same without the rounding bias; the full-window searches read it.
extern int32_t reductionTableFloor[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
// [improving][depth]: moves tried before late quiet moves are pruned.
extern int32_t lateMoveCount[2][LATE_MOVE_DEPTHS];

// Exchange threshold of a late quiet move by its reduced depth in plies.
inline constexpr int32_t quietSeeMargin[11] = {0, 17, 65, 141, 242, 365, 506, 662, 830, 1007, 1189};

extern int32_t quietHistoryBonus[HISTORY_BONUS_DEPTHS];
extern int32_t continuationBonus[HISTORY_BONUS_DEPTHS];
extern int32_t captureHistoryBonus[HISTORY_BONUS_DEPTHS];

// Reverse-futility margin per half of the depth.
extern int32_t futilityMultiplier;
// Subtracted from a move's history score before it adjusts the reduction.
extern int32_t historyOffset;
constexpr int32_t HISTORY_OFFSET_DEFAULT = 23000;
constexpr int32_t HISTORY_OFFSET_AFTER_MCTS = 16000;

// Whether the reductions and the futility multiplier were last built for the
// Monte-Carlo mode.
extern bool searchTablesMonteCarlo;

// Reduction tables from "Reduction" and "Threads" (Monte-Carlo mode uses a
// fixed reduction and no thread bonus).
void buildReductionTables(bool monteCarlo);
// Late-move counts from "Selectivity" and "Threads" (fixed in Monte-Carlo mode).
void buildLateMoveCounts(bool monteCarlo);
// History bonus tables (constant; rebuilt with the per-thread tables).
void buildHistoryBonusTables();

// The settings rebuild after option changes: reductions, late-move counts and
// the futility multiplier.
void rebuildSearchSettings(bool monteCarlo);
// At search start: when the Monte-Carlo mode differs from the one the tables
// were built for, rebuilds the reductions and the futility multiplier.
void matchSearchTablesToMode(bool monteCarlo);
// Program start: every table, outside Monte-Carlo mode, history offset 23000.
void initSearchTables();
