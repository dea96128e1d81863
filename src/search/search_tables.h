// Tables and tuning values the alpha-beta searches read: late-move
// reductions, late-move counts, quiet exchange margins, history bonuses, the
// futility multiplier, the history offset, and the fixed margins and depth
// limits of the node searches' pruning, reductions and extensions.
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
constexpr int QUIET_SEE_PLIES = 11;
inline constexpr int32_t quietSeeMargin[QUIET_SEE_PLIES] = {0,   17,  65,  141,  242, 365,
                                                            506, 662, 830, 1007, 1189};

extern int32_t quietHistoryBonus[HISTORY_BONUS_DEPTHS];
extern int32_t continuationBonus[HISTORY_BONUS_DEPTHS];
extern int32_t captureHistoryBonus[HISTORY_BONUS_DEPTHS];

// Reverse-futility margin per half of the depth.
extern int32_t futilityMultiplier;
// Subtracted from a move's history score before it adjusts the reduction.
extern int32_t historyOffset;
constexpr int32_t HISTORY_OFFSET_DEFAULT = 23000;
constexpr int32_t HISTORY_OFFSET_AFTER_MCTS = 16000;

// Fixed tuning values of the node searches. Depths are in half plies; a
// "plies" value is a reduced depth in whole plies.

// The quiet history H is read at a sixth of its size by the pruning and the
// reductions, as by the move ordering.
constexpr int32_t HISTORY_KEY_DIVISOR = 6;
// A reduced quiet move's reduction changes by a ply per this much of its
// history score.
constexpr int32_t HISTORY_REDUCTION_STEP = 6000;
// A move's history score as the reductions start from it: the table move,
// evasions and winning captures, and losing captures.
constexpr int32_t STAT_SCORE_GOOD = 4000;
constexpr int32_t STAT_SCORE_BAD = -4000;

// A static value within this of the one two plies ago still counts as improving.
constexpr int32_t IMPROVING_MARGIN = 5;
// Internal iterative reduction: from this depth, a node without a table move
// is searched a ply shallower.
constexpr int IIR_MIN_DEPTH = 8;
// Under-promotions are searched only from this depth.
constexpr int UNDER_PROMOTION_DEPTH = 20;

// The static evaluation of a null-window node is lazy around beta, by a
// fixed margin short of LAZY_EVAL_SHALLOW_DEPTH and by one growing with the
// depth above it; from LAZY_EVAL_EXACT_DEPTH it is exact.
constexpr int LAZY_EVAL_SHALLOW_DEPTH = 5;
constexpr int32_t LAZY_EVAL_SHALLOW_MARGIN = 200;
constexpr int32_t LAZY_EVAL_MARGIN_PER_DEPTH = 10;
constexpr int32_t LAZY_EVAL_MARGIN_BASE = 253;
constexpr int LAZY_EVAL_EXACT_DEPTH = 18;

// Evaluation feedback to the last move's main history: this much per half
// ply of depth and point of evaluation change, within +-EVAL_FEEDBACK_LIMIT.
constexpr int32_t EVAL_FEEDBACK_PER_DEPTH = 6;
constexpr int32_t EVAL_FEEDBACK_LIMIT = 2000;

// Reverse futility: only for static values below RFP_MAX_EVAL, short of
// RFP_DEPTH_LIMIT; an improving side needs RFP_IMPROVING_BONUS less margin.
constexpr int32_t RFP_MAX_EVAL = 5000;
constexpr int RFP_DEPTH_LIMIT = 13;
constexpr int32_t RFP_IMPROVING_BONUS = 75;

// Null move. No null move right after a parent move whose history score was
// above NULL_MOVE_MAX_PARENT_STAT. Short of NULL_MOVE_MARGIN_DEPTH the static
// value must reach beta less a margin that grows with the depth (a table
// entry from a PV node asks for NULL_MOVE_PV_ENTRY_MARGIN more).
constexpr int32_t NULL_MOVE_MAX_PARENT_STAT = 18999;
constexpr int NULL_MOVE_MARGIN_DEPTH = 15;
constexpr int32_t NULL_MOVE_MARGIN_PER_DEPTH = 9;
constexpr int32_t NULL_MOVE_MARGIN_BASE = 108;
constexpr int32_t NULL_MOVE_PV_ENTRY_MARGIN = 20;
// The null-move reduction R, in plies: (a term for the static value's lead
// over beta, capped; a term for the depth; a base, smaller below
// NULL_MOVE_ENDGAME_PHASE) / NULL_MOVE_R_SCALE.
constexpr int32_t NULL_MOVE_R_PER_LEAD = 12;
constexpr int32_t NULL_MOVE_R_LEAD_CAP = 3000;
constexpr int32_t NULL_MOVE_R_PER_DEPTH = 150;
constexpr int NULL_MOVE_ENDGAME_PHASE = 25;
constexpr int32_t NULL_MOVE_R_BASE_ENDGAME = 3000;
constexpr int32_t NULL_MOVE_R_BASE = 3500;
constexpr int32_t NULL_MOVE_R_SCALE = 1000;
// A null-move value from here on is an unproven mate and counts as beta.
constexpr int32_t NULL_MOVE_MATE_LIMIT = 29001;
// A null move that fails more than NULL_MOVE_THREAT_MARGIN below beta under
// a reduced node shows a threat: below NULL_MOVE_THREAT_REDUCTION the node
// gives up, from it the reduction is undone.
constexpr int32_t NULL_MOVE_THREAT_MARGIN = 200;
constexpr int NULL_MOVE_THREAT_REDUCTION = 4;
// A null-move cut-off is verified from NULL_MOVE_VERIFY_DEPTH when the phase
// is at most NULL_MOVE_VERIFY_PHASE (few pieces left, zugzwang likely), and
// from NULL_MOVE_VERIFY_DEEP_DEPTH otherwise.
constexpr int NULL_MOVE_VERIFY_DEPTH = 15;
constexpr int NULL_MOVE_VERIFY_PHASE = 8;
constexpr int NULL_MOVE_VERIFY_DEEP_DEPTH = 25;

// ProbCut: from PROBCUT_MIN_DEPTH, at most PROBCUT_MAX_MOVES captures are
// tried against beta (capped at PROBCUT_MAX_BETA) plus PROBCUT_MARGIN, with
// a search PROBCUT_REDUCTION shallower.
constexpr int PROBCUT_MIN_DEPTH = 10;
constexpr int32_t PROBCUT_MAX_BETA = 31900;
constexpr int32_t PROBCUT_MARGIN = 100;
constexpr int PROBCUT_MAX_MOVES = 2;
constexpr int PROBCUT_REDUCTION = 8;

// In check: a table capture or queen promotion whose lower bound beats beta
// by CHECK_TT_MARGIN, from a search at most CHECK_TT_DEPTH_MARGIN shallower
// and from CHECK_TT_MIN_DEPTH, ends the node when neither score is beyond
// CHECK_TT_MAX_SCORE.
constexpr int32_t CHECK_TT_MARGIN = 200;
constexpr int CHECK_TT_DEPTH_MARGIN = 6;
constexpr int CHECK_TT_MIN_DEPTH = 4;
constexpr int32_t CHECK_TT_MAX_SCORE = 5000;

// Futility mode: up to FUTILITY_MODE_MAX_DEPTH, when the static value plus
// a margin of (d * d rounded down to a multiple of 4) + FUTILITY_MODE_PER_PLY
// per ply stays below beta; short of FUTILITY_MODE_DEEP_DEPTH the picker's
// shallow sequence.
constexpr int FUTILITY_MODE_MAX_DEPTH = 15;
constexpr int32_t FUTILITY_MODE_PER_PLY = 70;
constexpr int FUTILITY_MODE_DEEP_DEPTH = 6;

// Late-move count of a PV node in the first iterations: no limit above
// EARLY_LATE_MOVE_DEPTH, else EARLY_LATE_MOVES_PER_DEPTH per half ply plus
// EARLY_LATE_MOVES_BASE.
constexpr int EARLY_ITERATIONS = 17;
constexpr int EARLY_LATE_MOVE_DEPTH = 4;
constexpr int NO_LATE_MOVE_LIMIT = 999;
constexpr int EARLY_LATE_MOVES_PER_DEPTH = 2;
constexpr int EARLY_LATE_MOVES_BASE = 4;

// Singular extensions: the table entry's score must be within
// SINGULAR_MAX_SCORE and its depth at most SINGULAR_ENTRY_DEPTH_MARGIN short;
// the test's beta is the entry's score (capped at beta plus
// SINGULAR_BETA_CAP) less SINGULAR_MARGIN_SIXTEENTHS / 16 per half ply. The
// test runs from SINGULAR_MIN_DEPTH (PV_SINGULAR_MIN_DEPTH at PV nodes); a
// result below the test's beta by DOUBLE_EXTENSION_MARGIN extends by two plies.
constexpr int32_t SINGULAR_MAX_SCORE = 3899;
constexpr int SINGULAR_ENTRY_DEPTH_MARGIN = 6;
constexpr int32_t SINGULAR_BETA_CAP = 60;
constexpr int32_t SINGULAR_MARGIN_SIXTEENTHS = 10;
constexpr int SINGULAR_MIN_DEPTH = 8;
constexpr int PV_SINGULAR_MIN_DEPTH = 12;
constexpr int32_t DOUBLE_EXTENSION_MARGIN = 15;

// Move pruning. Captures, promotions and checks: short of
// TACTICAL_SEE_DEPTH, those losing more than a margin per half ply in the
// exchange (PV nodes allow twice as much).
constexpr int TACTICAL_SEE_DEPTH = 15;
constexpr int32_t TACTICAL_SEE_MARGIN = 42;
constexpr int32_t PV_TACTICAL_SEE_MARGIN = 84;
// PV nodes: late quiet moves up to PV_MOVE_COUNT_DEPTH whose history is
// below PV_MOVE_COUNT_HISTORY; quiet moves whose exchange loses more than
// twice the quiet margin.
constexpr int PV_MOVE_COUNT_DEPTH = 11;
constexpr int32_t PV_MOVE_COUNT_HISTORY = 108000;
constexpr int32_t PV_QUIET_SEE_FACTOR = 2;
// Null-window nodes: move-count pruning up to MOVE_COUNT_DEPTH; poor
// continuation history below CONTINUATION_PRUNE_PLIES; futility up to
// FUTILITY_PLIES.
constexpr int MOVE_COUNT_DEPTH = 20;
constexpr int CONTINUATION_PRUNE_PLIES = 4;
constexpr int32_t CONTINUATION_PRUNE_OFFSET = 48000;
constexpr int32_t CONTINUATION_PRUNE_BASE = 4800;
constexpr int32_t CONTINUATION_PRUNE_PER_DEPTH = 2400;
constexpr int FUTILITY_PLIES = 5;
constexpr int32_t FUTILITY_MARGIN_BASE = 142;
constexpr int32_t FUTILITY_MARGIN_PER_PLY = 64;
constexpr int32_t FUTILITY_MARGIN_PER_MOVE = 10;
// Quiet moves with at least this much history are never pruned for their
// exchange.
constexpr int32_t QUIET_SEE_HISTORY_LIMIT = 150000;

// Helper threads put off a move that another thread is searching from
// DEFER_MIN_DEPTH, once two moves have been searched.
constexpr int DEFER_MIN_DEPTH = 5;

// Late-move reductions start at this new depth.
constexpr int LMR_MIN_DEPTH = 6;
// The phase (more pieces above it) that decides where a threatened piece's
// move is reduced less: above it at the root and at PV nodes, at or below it
// (or at cut nodes) at null-window nodes.
constexpr int THREAT_PHASE = 48;
// PV nodes ease the reduction of a threatened piece's move up to this depth.
constexpr int PV_THREAT_MAX_DEPTH = 15;
// Null-window nodes: from CAPTURE_EASE_DEPTH a tactical move off a cut node is
// reduced two plies less; from CUT_NODE_DEEP_DEPTH a quiet move at a cut node
// out of check two plies more, below it one; short of ORDERING_EASE_DEPTH
// killers, counter moves and advanced pawns one ply less.
constexpr int CAPTURE_EASE_DEPTH = 14;
constexpr int CUT_NODE_DEEP_DEPTH = 13;
constexpr int ORDERING_EASE_DEPTH = 23;

// The quiet moves learn from a best move only when the static value was
// above alpha (PV nodes) or beta (others) less this.
constexpr int32_t PV_QUIET_LEARN_MARGIN = 192;
constexpr int32_t QUIET_LEARN_MARGIN = 60;

// Repetitions count twice at plies below this.
constexpr int ROOT_REPETITION_PLIES = 3;

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
