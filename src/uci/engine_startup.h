// Bringing the engine's subsystems up, shared by the program entry and the
// developer tools that search in-process (the data generator).
#pragma once

// Connects the lower layers to what only the command layer can do: the
// option callbacks that drive the table, the hash file and the network; the
// command processor that a running search calls for the input that arrived;
// and the shut-down that a "quit" during a search runs. Safe to call again.
void installEngineHooks();

// Builds every table, the option table with its defaults, one search thread,
// the transposition table and the built-in (or "WeightsFile") network, in the
// order the subsystems depend on, after installing the hooks above. Prints
// only what loading the network says.
void startUpEngine();
