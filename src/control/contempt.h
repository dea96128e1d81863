// Contempt and "Armageddon" at the search level: how much the engine dislikes
// a draw in this search, for whom, and what a draw scores for each colour.
#pragma once

#include <cstdint>

#include "board/types.h"

// The contempt computed at the start of the current search, before it
// follows the score from iteration to iteration.
extern int32_t baseContempt;

// Reads "Armageddon" and stores what a draw is worth for each colour: the
// side that must win sees a draw as a heavy loss, the other side as a win.
// Returns the contempt offset that leans the same way (positive when White
// must win, negative when Black must, 0 when off).
int32_t applyArmageddon();

// The contempt of a search from the options ("Contempt", "UCI_Opponent",
// "Use MCTS"), the Armageddon offset and the side to move of the root. The
// offset counts for the side to move (White must win: more contempt for
// White, less for Black).
int32_t startContempt(Color rootSide, int32_t armageddonOffset);

// Stores contempt c for the colour that receives it (the side to move of the
// root, or White under "White Contempt") and -c for the other, in both the
// plain and the pair form the evaluation reads.
void storeContempt(int32_t c, Color rootSide);

// The contempt at search start: startContempt, remembered as baseContempt
// and stored for the evaluation.
void setSearchContempt(Color rootSide, int32_t armageddonOffset);

// After each iteration the contempt follows the iteration's score a little.
void adjustContempt(int32_t score, Color rootSide);
