// The check that a running search makes every so often: it runs the input
// lines that arrived ("stop", "isready", "ponderhit", ...), applies the time
// limits and prints a node count every two seconds.
#pragma once

// Carries out the input lines queued since the last call. The command loop
// registers it at start-up (installEngineHooks); while it is null, a search
// only watches its limits.
extern void (*processQueuedInput)();

// Prints the progress report of a running Monte-Carlo search (and applies
// its depth limit); false when no tree search runs. The command loop
// registers it at start-up; while it is null every report is a node count.
extern bool (*reportMonteCarloProgress)();

// Called by the root, node and quiescence searches and the playouts of
// thread 0. Only every
// 512th call does any work; the others cost one counter increment. Returns
// true when the calling search must stop.
bool periodicCheck();
