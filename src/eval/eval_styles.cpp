#include "eval/eval_styles.h"

#include <cmath>

#include "core/options.h"
#include "eval/eval_weights.h"
#include "eval/regular_weights.h"

const char* const StyleNames[STYLE_COUNT] = {"Default",    "Aggressive", "Defensive", "Active",
                                             "Positional", "Endgame",    "Beginner",  "Human"};

const StyleRecord StyleTable[STYLE_COUNT] = {
    {{16, 0, 6, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 120}},                  // Default
    {{50, 100, 12, -50, 3, 0, 0, 0, 0, 10, 0, 25, 25, 0, 150}},          // Aggressive
    {{-50, -50, 3, 50, 11, 0, 0, 0, 0, 0, 0, -20, -25, 0, 100}},         // Defensive
    {{50, 25, 8, 0, 4, 10, 0, 0, 10, 10, 0, 25, 0, 0, 150}},             // Active
    {{10, -25, 4, 25, 8, 0, 5, 0, -5, 0, 10, -20, 50, 0, 100}},          // Positional
    {{0, -25, 4, 0, 6, 0, 0, 10, 10, 0, 40, 0, 0, 25, 100}},             // Endgame
    {{-100, 25, 12, -50, 1, 20, 25, 50, 30, 50, -50, -20, 0, -50, 80}},  // Beginner
    {{100, 25, 8, 0, 9, 0, 1, 0, -2, -5, -15, 0, -10, 0, 100}},          // Human
};

const int32_t StyleContempt[STYLE_COUNT] = {20, 40, 0, 30, 15, 10, 0, 20};

int currentStyleIndex = 0;
std::atomic<bool> evaluationSettingsChanged{false};
int32_t HalfPieceValue[2][7];

int styleIndexOf(const std::string& name) {
    for (int i = 0; i < STYLE_COUNT; i++)
        if (name == StyleNames[i]) return i;
    return 0;
}

void applyEvaluationSettings() {
    currentStyleIndex = styleIndexOf(personality);
    const int32_t* f = StyleTable[currentStyleIndex].f;
    // Fields f5..f9 change the bishop, knight, pawn, rook and queen values.
    constexpr int FIELD_OF_TYPE[7] = {-1, 7, 6, 5, 8, 9, -1};
    for (int t = 0; t < 7; t++) {
        int change = FIELD_OF_TYPE[t] < 0 ? 0 : f[FIELD_OF_TYPE[t]];
        PieceValue[t] = DEFAULT_PIECE_VALUE[t] * (100 + change) / 100;
        HalfPieceValue[0][t] = HalfPieceValue[1][t] = DEFAULT_PIECE_VALUE[t] * (100 + change) / 200;
    }
    for (int ph = 0; ph <= 96; ph++) materialPhaseScale[ph] = float(0.95 + ph * 0.2 / 96);
    setKingDanger(kingSafety);
    buildRegularWeights(TunedWeights.data(), f);
}

void applySearchStyle(int rootSide, int threadCount) {
    const int32_t* f = StyleTable[currentStyleIndex].f;
    int d = currentStyleIndex == 0 ? dynamism : f[14];
    // The piece terms weigh a little more with more threads (deeper
    // searches): five points per doubling.
    d += int(7.213475204444817 * std::log(double(threadCount < 1 ? 1 : threadCount)));
    setDynamismFactors(d);
    kingDangerWeight[rootSide] = f[4];
    kingDangerWeight[rootSide ^ 1] = f[2];
    setKingDanger(kingSafety);
}
