// Developer commands that check the evaluation pipeline: the "nndebug",
// "nneval" and "nntest" command-line modes.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "eval/network/network.h"

// Prints "eval: <value>" for each of the first 16 built-in test positions.
void runNnDebug();

// Writes, for every FEN line of inputPath, the test record of the position to
// outputPath. Returns false when a file cannot be opened.
bool runNnEval(const char* inputPath, const char* outputPath);

// Checks the network's inference on the built-in test positions: the engine's
// way (sums kept up to date incrementally, vector kernels) against the plain
// way (sums from scratch, scalar kernels), for each position and every
// position one legal move away. Prints "nn test passed" or "nn test failed".
bool runNnTest();

// The check of runNnTest for one position, whose network sums the engine's
// way uses as they stand when they are marked valid. Prints what differs and
// returns false at the first difference.
bool networkPathsAgree(const Network& net, Position& root, uint32_t index);
