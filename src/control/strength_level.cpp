#include "control/strength_level.h"

// Full strength until "UCI Elo" says otherwise.
int configuredStrengthLevel = 35;
int currentStrengthLevel = 35;
