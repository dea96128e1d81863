#include "eval/regular_weights.h"

const WeightSet TunedWeights = InitialWeights;
