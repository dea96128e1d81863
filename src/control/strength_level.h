// Playing-strength levels, 0 (weakest) to 35 (full strength): the level of a
// search and the limits it sets (evaluation noise, node cap, book moves,
// quiescence depth).
#pragma once

#include <cstdint>

constexpr int MAX_STRENGTH_LEVEL = 35;

// The base level ("UCI Elo" / 100; 35 while "UCI LimitStrength" is off) and
// the level that "Auto Skill" plays at now.
extern int configuredStrengthLevel, currentStrengthLevel;

// The limits a search plays under.
struct StrengthLimits {
    int32_t noiseAmplitude;
    int64_t nodeCap;  // 0: none
    int32_t bookMoves;
    int32_t qsearchDepthLimit;
};

// The level of one search. With "Auto Skill", the auto level; without "UCI
// LimitStrength", 35; otherwise "UCI Elo" / 100, rounded up with the
// probability of the Elo's last two digits (decided by the previous search's
// noise key and the root position, so the same position and key always give
// the same level).
int levelForSearch(bool autoSkill, bool limitStrength, int32_t uciElo, int autoLevel, uint64_t noiseKey,
                   uint64_t rootKey);

// The limits at a level, for the regular evaluation or the network. "UCI
// Elo" below 3500 sets the node cap of the level whatever chose it; at full
// strength "Variety" gives the noise.
StrengthLimits limitsAtLevel(int level, bool regularEval, int32_t uciElo, int32_t variety,
                             int32_t bookMovesOption);

// "Auto Skill" after a search that scored `score` (side to move): a level
// down after a clear advantage (76 or more), up after a clear deficit (below
// -150), kept within [base - 5, base + 3] and [1, 35].
int adjustAutoSkill(int autoLevel, int baseLevel, int score);
