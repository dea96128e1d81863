// The tablebase probe the node search makes inside the tree.
#pragma once

#include "board/position.h"
#include "eval/score.h"

// Looks pos up in the endgame tablebases. On success writes the score seen
// from the side to move (a win at ply p is 31800 - p, a loss p - 31800, a draw
// or a cursed result near 0) and returns true. No tables are read, so it
// never succeeds.
bool probeWdlScore(const Position& pos, int ply, Score* score);
