#include "control/strength_level.h"

#include <algorithm>

// Full strength until "UCI Elo" says otherwise.
int configuredStrengthLevel = MAX_STRENGTH_LEVEL;
int currentStrengthLevel = MAX_STRENGTH_LEVEL;

namespace {

// Per-level tables, index 0..35. Weaker levels add more evaluation noise,
// search fewer nodes, leave the book sooner and, at the bottom, cut the
// quiescence search short. The regular evaluation is weaker per node than the
// network, so it gets less noise and larger node caps at the same level.
constexpr int32_t NoiseRegular[36] = {2895, 2545, 2195, 1845, 1505, 1135, 875, 675, 555, 645, 515, 385,
                                      275,  185,  145,  95,   37,   35,   33,  31,  29,  27,  25,  23,
                                      21,   19,   17,   15,   13,   11,   9,   7,   5,   3,   1,   0};
constexpr int32_t NoiseNetwork[36] = {3995, 3395, 2875, 2425, 2025, 1675, 1375, 1135, 965, 1015, 875, 745,
                                      625,  515,  465,  405,  315,  225,  145,  33,   31,  29,   27,  25,
                                      23,   21,   19,   17,   15,   13,   11,   9,    7,   5,    3,   0};
constexpr int64_t NodeCapNetwork[36] = {30,   35,   40,   45,   50,    55,    58,    60,     62,
                                        64,   66,   68,   70,   72,    74,    76,    78,     80,
                                        82,   84,   145,  225,  330,   480,   700,   1000,   1450,
                                        2150, 3400, 5600, 9800, 18500, 37000, 90000, 250000, 1000000};
constexpr int64_t NodeCapRegular[36] = {
    45,   60,    75,    90,    100,   100,    100,    100,    100,     100,      100,      100,
    100,  100,   100,   100,   130,   220,    390,    630,    1000,    1570,     2400,     3750,
    6100, 10400, 18200, 33000, 62000, 124000, 280000, 800000, 3000000, 15000000, 40000000, 80000000};
constexpr int32_t BookNetwork[36] = {0, 0, 0, 0, 0, 0, 0, 0, 1,  1,  2,  2,  3,  3,  4,  4,  5,  5,
                                     6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 9999};
constexpr int32_t BookRegular[36] = {0, 0, 0, 0, 0, 0, 1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                     7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 9999};
constexpr int32_t QsearchLimit[36] = {1,   1,   1,   1,   1,   1,   1,   1,   1,   0,   0,   0,
                                      0,   0,   -2,  -12, -12, -12, -12, -12, -12, -12, -12, -12,
                                      -12, -12, -12, -12, -12, -12, -12, -12, -12, -12, -12, -12};

}  // namespace

int levelForSearch(bool autoSkill, bool limitStrength, int32_t uciElo, int autoLevel, uint64_t noiseKey,
                   uint64_t rootKey) {
    if (autoSkill) return std::clamp(autoLevel, 0, MAX_STRENGTH_LEVEL);
    if (!limitStrength) return MAX_STRENGTH_LEVEL;
    int level = uciElo / 100;
    int fraction = uciElo % 100;
    if (uciElo < 3500 && fraction != 0 && (noiseKey ^ rootKey) % 100 < uint64_t(fraction)) level++;
    return std::clamp(level, 0, MAX_STRENGTH_LEVEL);
}

StrengthLimits limitsAtLevel(int level, bool regularEval, int32_t uciElo, int32_t variety,
                             int32_t bookMovesOption) {
    level = std::clamp(level, 0, MAX_STRENGTH_LEVEL);
    StrengthLimits s;
    s.noiseAmplitude = (regularEval ? NoiseRegular : NoiseNetwork)[level];
    if (level == MAX_STRENGTH_LEVEL && variety != 0) s.noiseAmplitude = variety;
    s.bookMoves = bookMovesOption;
    s.qsearchDepthLimit = -12;
    if (level < MAX_STRENGTH_LEVEL) {
        s.bookMoves = std::max(0, (regularEval ? BookRegular : BookNetwork)[level]);
        s.qsearchDepthLimit = QsearchLimit[level];
    }
    s.nodeCap = uciElo < 3500 ? (regularEval ? NodeCapRegular : NodeCapNetwork)[level] : 0;
    return s;
}

int adjustAutoSkill(int autoLevel, int baseLevel, int score) {
    if (score >= 76) autoLevel--;
    if (score < -150) autoLevel++;
    autoLevel = std::min(autoLevel, baseLevel + 3);
    autoLevel = std::max(autoLevel, baseLevel - 5);
    return std::clamp(autoLevel, 1, MAX_STRENGTH_LEVEL);
}
