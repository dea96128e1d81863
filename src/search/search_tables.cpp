#include "search/search_tables.h"

#include <algorithm>
#include <cmath>

#include "core/options.h"

int32_t reductionTable[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
int32_t reductionTableFloor[2][REDUCTION_DEPTHS][REDUCTION_MOVES];
int32_t lateMoveCount[2][LATE_MOVE_DEPTHS];
int32_t quietHistoryBonus[HISTORY_BONUS_DEPTHS];
int32_t continuationBonus[HISTORY_BONUS_DEPTHS];
int32_t captureHistoryBonus[HISTORY_BONUS_DEPTHS];
int32_t futilityMultiplier = 50;
int32_t historyOffset = HISTORY_OFFSET_DEFAULT;
bool searchTablesMonteCarlo = false;

namespace {

constexpr int32_t MONTE_CARLO_REDUCTION = 5;
constexpr int32_t MONTE_CARLO_SELECTIVITY = 80;

int threadCount() {
    return std::max(1, threadsOption);
}

// More threads reduce harder: trunc(ln T * 4.328... - 3) from three threads
// on. One fused multiply-add, so that the whole-number cases (T = 4, 8) land
// just below the whole number every time.
int reductionThreadBonus(int threads) {
    if (threads < 3) return 0;
    return int(std::fma(std::log(double(threads)), 4.32808512266689, -3.0));
}

// More threads prune later: trunc(ln T * 7.213...), 5 per doubling.
int selectivityThreadTerm(int threads) {
    return int(std::log(double(threads)) * 7.213475204444817);
}

// Monte-Carlo leaf searches use a wider reverse-futility margin.
void buildFutilityMultiplier(bool monteCarlo) {
    futilityMultiplier = monteCarlo ? 90 : 50;
}

}  // namespace

// K = "Reduction" plus the thread bonus (5 in Monte-Carlo mode);
// x = (K + 100) * ln(d / 2) * ln(m) / divisor, divisor 170 when not improving
// and 220 when improving; the tables hold whole plies, the plain one rounded
// with a bias of 0.3. Depth 1 gives a negative logarithm and so reductions of
// zero or below, which no search reads.
void buildReductionTables(bool monteCarlo) {
    int32_t k = monteCarlo ? MONTE_CARLO_REDUCTION : reductionOption + reductionThreadBonus(threadCount());
    constexpr double Divisor[2] = {170.0, 220.0};
    for (int i = 0; i < 2; i++) {
        for (int m = 0; m < REDUCTION_MOVES; m++) reductionTable[i][0][m] = reductionTableFloor[i][0][m] = 0;
        for (int d = 1; d < REDUCTION_DEPTHS; d++) {
            double base = double(k + 100) * std::log(0.5 * d);
            reductionTable[i][d][0] = reductionTableFloor[i][d][0] = 0;
            for (int m = 1; m < REDUCTION_MOVES; m++) {
                double x = base * std::log(double(m)) / Divisor[i];
                reductionTable[i][d][m] = 2 * int32_t(x + 0.3);
                reductionTableFloor[i][d][m] = 2 * int32_t(x) - (monteCarlo ? 2 : 0);
            }
        }
    }
}

// Improving nodes try trunc(22 d^2 / S + 2.5) moves, others trunc(14 d^2 / S - 0.01);
// the top row is unlimited.
void buildLateMoveCounts(bool monteCarlo) {
    double s = monteCarlo ? MONTE_CARLO_SELECTIVITY : selectivity + selectivityThreadTerm(threadCount());
    for (int d = 0; d < LATE_MOVE_DEPTHS - 1; d++) {
        lateMoveCount[1][d] = int32_t(22.0 * d * d / s + 2.5);
        lateMoveCount[0][d] = int32_t(14.0 * d * d / s - 0.01);
    }
    lateMoveCount[0][LATE_MOVE_DEPTHS - 1] = lateMoveCount[1][LATE_MOVE_DEPTHS - 1] = 999;
}

// Bonuses grow with the depth clamped to 2..28: linearly for the quiet and
// continuation histories, quadratically for the capture history.
void buildHistoryBonusTables() {
    for (int d = 0; d < HISTORY_BONUS_DEPTHS; d++) {
        int32_t c = std::clamp(d, 2, 28);
        quietHistoryBonus[d] = continuationBonus[d] = 290 * c - 560;
        captureHistoryBonus[d] = 3 * c * c + 42 * c - 71;
    }
}

void rebuildSearchSettings(bool monteCarlo) {
    buildReductionTables(monteCarlo);
    buildLateMoveCounts(monteCarlo);
    buildFutilityMultiplier(monteCarlo);
    searchTablesMonteCarlo = monteCarlo;
}

void matchSearchTablesToMode(bool monteCarlo) {
    if (monteCarlo == searchTablesMonteCarlo) return;
    buildReductionTables(monteCarlo);
    buildFutilityMultiplier(monteCarlo);
    searchTablesMonteCarlo = monteCarlo;
}

void initSearchTables() {
    rebuildSearchSettings(false);
    buildHistoryBonusTables();
    historyOffset = HISTORY_OFFSET_DEFAULT;
}
