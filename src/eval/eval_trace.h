// What the tuner learns from one evaluation: how often each weight was
// counted (White's count minus Black's) and the inputs of the final assembly.
#pragma once

#include <cstdint>

#include "eval/regular_weights.h"

// The inputs of the final assembly of the regular evaluation: everything but
// the weighted sums.
struct AssemblyInputs {
    int32_t material = 0;  // 1/960 units, White's view
    float scale = 1.0f;    // material scale
    int phase = 0;         // 0..96
    int stmSign = 1;
    int closedness = 0;  // k of the pawn entry
    bool fewFiles = false;
    bool noQueensNoPassers = false;
    uint8_t fileClass[2] = {0, 0};
    bool wrongBishop[2] = {false, false};  // by the bishop's colour
};

struct EvalTrace {
    int16_t coef[W_COUNT];
    ScorePair pawnRaw;   // White minus Black of the pawn structure, before 97/100
    ScorePair pieceRaw;  // White minus Black of the piece terms, before the dynamism factors
    AssemblyInputs inputs;
    bool fullEvaluation;  // false: a known result or a lazy exit, nothing to fit
};
