// Bringing the engine's subsystems up, shared by the program entry and the
// developer tools that search in-process (the data generator).
#pragma once

// Builds every table, the option table with its defaults, one search thread,
// the transposition table and the built-in (or "WeightsFile") network, in the
// order the subsystems depend on. Prints only what loading the network says.
void startUpEngine();
