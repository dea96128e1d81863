#include "search/search_state.h"

int32_t drawScoreByColor[2] = {0, 0};
int32_t tbRootCardinality = 0;
bool mctsActive = false;
int32_t historyPruneThreshold = 24000;
int32_t qsearchDepthLimit = -12;

void resetSearchState() {
    drawScoreByColor[0] = drawScoreByColor[1] = 0;
    tbRootCardinality = 0;
    mctsActive = false;
    historyPruneThreshold = 24000;
    qsearchDepthLimit = -12;
}
