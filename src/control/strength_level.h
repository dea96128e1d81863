// Playing-strength levels, 0 (weakest) to 35 (full strength).
#pragma once

#include <cstdint>

// Level chosen by "UCI Elo" (Elo / 100) and the level the adaptive "Auto Skill" plays at now.
extern int configuredStrengthLevel, currentStrengthLevel;

// Full moves of the game for which a search at `level` uses the book:
// "Book Moves" (`configured`) at full strength, fewer the weaker the level
// (a little more with the regular evaluation, which is weaker per level).
int32_t bookMovesAtLevel(int level, int32_t configured, bool regularEval);
