// The check that a running search makes every so often: it runs queued UCI
// commands ("stop", "isready", "ponderhit", ...), applies the time limits and
// prints a node count every two seconds.
#pragma once

// The next time (seconds since program start) at which the check prints an
// "info nodes" line. The think driver sets it to two seconds after the start.
extern double nextReportTime;

// Called by the root, node and quiescence searches of thread 0. Only every
// 512th call does any work; the others cost one counter increment. Returns
// true when the calling search must stop.
bool periodicCheck();
