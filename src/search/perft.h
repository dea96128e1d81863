// Counting the leaves of the legal move tree.
#pragma once

#include <cstdint>

#include "board/position.h"

extern uint64_t perftLeafCount;

// Adds the number of leaves of pos at the given depth to perftLeafCount.
// Depths below 1 count like depth 1.
void perft(const Position& pos, int depth);

// The "perft" command: counts and prints "<count>, MNPS=<speed>".
void perftCommand(const Position& root, int depth);
