// Playing-strength levels, 0 (weakest) to 35 (full strength).
#pragma once

#include <cstdint>

// Level chosen by "UCI Elo" (Elo / 100) and the level the adaptive "Auto Skill" plays at now.
extern int configuredStrengthLevel, currentStrengthLevel;
