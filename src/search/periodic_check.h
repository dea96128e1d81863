// The check that a running search makes every so often: it runs the input
// lines that arrived ("stop", "isready", "ponderhit", ...), applies the time
// limits and prints a node count every two seconds.
#pragma once

// Carries out the input lines queued since the last call. The command loop
// registers it at start-up (installEngineHooks); while it is null, a search
// only watches its limits.
extern void (*processQueuedInput)();

// Called by the root, node and quiescence searches of thread 0. Only every
// 512th call does any work; the others cost one counter increment. Returns
// true when the calling search must stop.
bool periodicCheck();
