#include "mcts/mcts_session.h"

#include <algorithm>
#include <cmath>

#include "core/options.h"
#include "mcts/win_probability.h"
#include "search/search_session.h"

MctsSettings mctsSettings{};
double drawValueByColor[2] = {0.5, 0.5};
std::atomic<int32_t> mctsSelDepth{0};
std::atomic<uint8_t> rootExcluded[MAX_ROOT_MOVES + 1];
int64_t startVisits = 0;
std::atomic<bool> treeSearchRunning{false};
int32_t mctsDepthLimit = 99;

// A single thread explores a little less: it has fewer playouts to spread.
// Optimism makes the side to move at the root (even plies) explore less
// and its opponent more. The leaf budgets grow with the square root of the
// time and shrink as more threads share the tree.
MctsSettings computeMctsSettings(int threadCount, double targetTime) {
    MctsSettings s{};
    int k = threadCount == 1 ? -10 : 0;
    s.cpuct[0] = std::max(MCTS_MIN_CPUCT, (k + mctsExplore - mctsOptimism) / 100.0);
    s.cpuct[1] = std::max(MCTS_MIN_CPUCT, (k + mctsExplore + mctsOptimism) / 100.0);
    s.cpuctRoot = std::max(MCTS_MIN_CPUCT, (k + mctsExploreRoot) / 100.0);
    s.expansionDepth = targetTime < 0.75 ? 5 : targetTime <= 9.0 ? 6 : 7;
    double scale = std::min(8.0, std::sqrt(0.4 * targetTime) / std::pow(double(threadCount), 0.375));
    s.budgetSmall = int32_t(15000 * scale);
    s.budgetLarge = int32_t(45000 * scale);
    s.threadCount = threadCount;
    return s;
}

void setMctsSession(int threadCount, double targetTime, int32_t depthLimit) {
    mctsSettings = computeMctsSettings(threadCount, targetTime);
    for (int c = 0; c < 2; c++) drawValueByColor[c] = probabilityFromScore(drawScoreByColor[c]);
    mctsDepthLimit = depthLimit;
}
