#include "search/search_session.h"

std::atomic<uint8_t> searching{0};
std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> pondering{0};
int32_t ponderCounter = 0;
double moveTimeLimit = 0.0;
int64_t nodeLimit = -1;
int64_t softNodeLimit = 0;
bool quietSearch = false;
bool analysisActive = false;
bool contemptOff = false;

Position rootPosition;
RootMove rootMoves[MAX_ROOT_MOVES + 1];
int32_t rootMoveCount = 0;
int32_t rootTbScore = NO_ROOT_TB_SCORE;
bool rootInTablebase = false;

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

double searchStartTime = 0;
double hardLimit = 0;
double softLimit = 0;
double extendLimit = 0;
double failHighLimit = 0;
double stableLimit = 0;
double decisiveLimit = 0;
double mctsCheckpoint = 0;

bool timeUp = false;
bool failLowPending = false;
bool failLowCancelled = false;
bool failLowSeen = false;
double instability = 0;
double instabilityWeight = 0.75;
int32_t currentRootMoveNumber = 0;
double nextReportTime = 0;

char bestMoveText[6] = "0000";
char ponderMoveText[6] = "";
Move resultMove = MOVE_NONE;
Score resultScore = SCORE_NONE;
