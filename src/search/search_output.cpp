#include "search/search_output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/position.h"
#include "core/options.h"
#include "core/output.h"
#include "platform/clock.h"
#include "search/search_session.h"
#include "search/search_thread.h"
#include "tablebase/tablebase_probe.h"
#include "tt/transposition_table.h"

// The network's scores run larger than the regular evaluation's, so they are
// shown at 60 % to keep "cp" close to a hundredth of a pawn.
static int32_t displayedCentipawns(Score score) {
    int32_t value = std::clamp(score, -EVAL_LIMIT, EVAL_LIMIT);
    if (!useRegularEval && value > -EVAL_LIMIT && value < EVAL_LIMIT) value = value * 60 / 100;
    return value;
}

// Mate scores count plies from the root (mate at ply p is 32000 - p); UCI
// wants full moves, negative when we are the side being mated. A tablebase
// win with the root's score just below the mate range shows as a mate in 1000.
int32_t formatScore(Score score, char* text, PvBound bound) {
    bool tablebaseRoot = rootTbScore != NO_ROOT_TB_SCORE;
    if (tablebaseRoot && std::abs(score) < MATE_BOUND) score = rootTbScore;
    int32_t shown;
    const char* unit = "mate";
    if (score >= MATE_BOUND) {
        shown = (MATE_SCORE - score) / 2 + 1;
    } else if (score <= -MATE_BOUND) {
        shown = -((MATE_SCORE - 1 + score) / 2) - 1;
    } else if (!tablebaseRoot || std::abs(score) < 31700) {
        shown = displayedCentipawns(score);
        unit = "cp";
    } else {
        shown = score > 0 ? 1000 : -1000;
    }
    const char* suffix = "";
    if (!tablebaseRoot && bound == PV_UPPER_BOUND) suffix = " upperbound";
    if (!tablebaseRoot && bound == PV_LOWER_BOUND) suffix = " lowerbound";
    std::snprintf(text, SCORE_TEXT_SIZE, "%s %d%s", unit, shown, suffix);
    return shown;
}

void formatPv(const Move* pv, char* text) {
    char* out = text;
    *out = '\0';
    for (int i = 0; i < MAX_PV_MOVES && pv[i] != MOVE_NONE; i++) {
        if (i > 0) *out++ = ' ';
        moveToText(pv[i], out);
        out += std::strlen(out);
    }
}

uint64_t totalSearchNodes() {
    uint64_t nodes = 0;
    for (int i = 0; i < activeThreads; i++)
        if (searchThreads[i]) nodes += searchThreads[i]->nodes.load(std::memory_order_relaxed);
    return nodes;
}

double searchElapsedSeconds() {
    return std::max(0.001, elapsedSeconds() - searchStartTime);
}

// The log shows the pv cut to its first 32 characters and then back to the
// last blank, so the line keeps its columns; a one-move pv stays whole.
// `out` has room for 33 bytes.
static void shortPvForLog(const char* pvText, char* out) {
    size_t length = strnlen(pvText, 32);
    std::memcpy(out, pvText, length);
    out[length] = '\0';
    char* lastBlank = std::strrchr(out, ' ');
    if (lastBlank) *lastBlank = '\0';
}

void printPvLine(int depth, Score score, const Move* pv, PvBound bound) {
    if (depth <= 0) return;
    float seconds = float(searchElapsedSeconds());
    uint64_t nodes = totalSearchNodes();
    char scoreText[SCORE_TEXT_SIZE], pvText[PV_TEXT_SIZE], hashfullText[32] = "";
    int32_t shown = formatScore(score, scoreText, bound);
    formatPv(pv, pvText);
    if (depth > 17)
        std::snprintf(hashfullText, sizeof hashfullText, " hashfull %d", transpositionTable.hashfull());
    printOut("info depth %d time %lld nodes %llu score %s nps %llu%s tbhits %llu pv %s\n", depth,
             (long long)(seconds * 1000), (unsigned long long)nodes, scoreText,
             (unsigned long long)(double(nodes) / seconds), hashfullText,
             (unsigned long long)tablebaseHits.load(std::memory_order_relaxed), pvText);

    static constexpr const char* BoundMark[3] = {"--", "FH", "FL"};
    char shortPv[40];
    shortPvForLog(pvText, shortPv);
    logLine("info: %3d %8.2f %8d %s  %s\n", depth, double(seconds), shown, BoundMark[bound], shortPv);
}

void printMultiPvLine(int lineNumber, int depth, Score score, const Move* pv) {
    float seconds = float(searchElapsedSeconds());
    uint64_t nodes = totalSearchNodes();
    char scoreText[SCORE_TEXT_SIZE], pvText[PV_TEXT_SIZE];
    formatScore(score, scoreText, PV_EXACT);
    formatPv(pv, pvText);
    printOut("info multipv %d depth %d time %lld nodes %llu score %s nps %llu tbhits %llu pv %s\n",
             lineNumber, depth, (long long)(seconds * 1000), (unsigned long long)nodes, scoreText,
             (unsigned long long)(double(nodes) / seconds),
             (unsigned long long)tablebaseHits.load(std::memory_order_relaxed), pvText);
}

uint64_t searchTablebaseHits() {
    return tablebaseHits.load(std::memory_order_relaxed);
}
