// Developer commands that check the evaluation pipeline: the "nndebug",
// "nneval" and "nntest" command-line modes.
#pragma once

// Prints "eval: <value>" for each of the first 16 built-in test positions.
void runNnDebug();

// Writes, for every FEN line of inputPath, the test record of the position to
// outputPath. Returns false when a file cannot be opened.
bool runNnEval(const char* inputPath, const char* outputPath);

// Builds each built-in test position's record twice (with and without move
// values) and compares them; prints "nn test passed" or "nn test failed".
bool runNnTest();
