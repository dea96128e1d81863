#include "control/strength_level.h"

// Full strength until "UCI Elo" says otherwise.
int configuredStrengthLevel = 35;
int currentStrengthLevel = 35;

int32_t bookMovesAtLevel(int level, int32_t configured, bool regularEval) {
    static constexpr int32_t Network[35] = {0, 0, 0, 0, 0, 0, 0, 0, 1,  1,  2,  2,  3,  3,  4,  4,  5, 5,
                                            6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14};
    static constexpr int32_t Regular[35] = {0, 0, 0, 0, 0, 0, 1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6, 6,
                                            7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15};
    if (level >= 35) return configured;
    return (regularEval ? Regular : Network)[level < 0 ? 0 : level];
}
