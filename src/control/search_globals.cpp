#include "control/search_globals.h"

std::atomic<uint8_t> searching{0};
std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> pondering{0};
int32_t ponderCounter = 0;
double moveTimeLimit = 0.0;
int64_t nodeLimit = -1;
int64_t softNodeLimit = 0;
