// The Monte-Carlo search driver: the counterpart of the alpha-beta
// iterations for a "go" with "Use MCTS" on. It fills the transposition table
// with one full-window search of the root, keeps the tree of the last search
// when the new root lies in it or builds a new root, runs playouts on thread
// 0 and on the odd-numbered workers (the even ones run alpha-beta
// iterations that feed the table) until a stop rule fires, and leaves the
// result for finishTreeSearch (tree_output.h).
#pragma once

#include <cstdint>

#include "board/position.h"

// How the driver wakes the worker threads and collects them again; the
// thread pool lives in a higher layer and hands these in.
struct WorkerControl {
    void (*start)();   // wake the workers for the search prepared in rootPosition
    void (*finish)();  // stop the workers and wait until all have finished
};

// The threads a Monte-Carlo search uses: "Threads", at most 128.
int mctsThreadCount();

// Runs the search from root (thread 0's root record, with rootMoves as its
// move list). Returns once the workers have stopped; the caller then checks
// for "quit" and prints the result.
void mctsSearch(Position& root, double targetTime, int32_t depthLimit, const WorkerControl& workers);

// A worker's share of the search: playouts until its stop flag is raised or
// the store is nearly full.
void runWorkerPlayouts(Position& root);
