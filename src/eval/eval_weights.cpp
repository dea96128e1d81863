#include "eval/eval_weights.h"

#include "core/options.h"
#include "eval/regular_weights.h"

int32_t PieceValue[7];
float materialPhaseScale[97];

// Default piece values, and the phase scale as a straight line from 0.95 to
// 1.15: the material balance matters a little more while pieces remain.
void initMaterialWeights() {
    for (int t = 0; t < 7; t++) PieceValue[t] = DEFAULT_PIECE_VALUE[t];
    for (int ph = 0; ph <= 96; ph++) materialPhaseScale[ph] = float(0.95 + ph * 0.2 / 96);
    buildRegularWeights(TunedWeights.data(), DEFAULT_STYLE_FIELDS);
    setKingDanger(kingSafety);
}
