// Probing the registered tables (tablebase_registry.h) for one position: its
// win/draw/loss value, its distance to the next capture or pawn move, and the
// score form the node search uses. Every search thread probes at once; the
// tables are read-only mappings and a probe allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/position.h"
#include "eval/score.h"

// A probe's outcome: failed (no table, a damaged one, or a table needed to
// resolve a capture is missing), succeeded, or succeeded with the value
// coming from a capture (or pawn move) that is best.
enum ProbeResult : int { PROBE_FAILED = 0, PROBE_OK = 1, PROBE_ZEROING_BEST = 2 };

// Win/draw/loss values from the side to move.
enum Wdl : int { WDL_LOSS = -2, WDL_BLESSED_LOSS = -1, WDL_DRAW = 0, WDL_CURSED_WIN = 1, WDL_WIN = 2 };

// A tablebase win at ply p from the root scores TB_WIN_SCORE - p: below
// every mate score, above every evaluation.
constexpr Score TB_WIN_SCORE = 31800;

// Successful probes of the search in progress (reset by the think driver).
extern std::atomic<uint64_t> tablebaseHits;

// The position's value: -2 loss, -1 loss the fifty-move rule saves, 0 draw,
// 1 win the fifty-move rule spoils, 2 win. The tables ignore the fifty-move
// counter; positions with castling rights are outside them.
int probeWdl(const Position& pos, ProbeResult* result);

// Plies to the next capture or pawn move with best play, signed like the WDL
// value (0 for a draw); beyond 100 in size for cursed wins and blessed losses.
int probeDtz(const Position& pos, ProbeResult* result);

// The WDL value as a search score at `ply` from the root: a win is 31800 -
// ply, a loss ply - 31800, a draw 0. With "Syzygy 50 Move Rule" on, cursed
// wins and blessed losses score +2 and -2 (draws, but better or worse than
// a plain one). Returns false when the probe fails.
bool probeWdlScore(const Position& pos, int ply, Score* score);
