// What one Monte-Carlo search sets up and its threads share, besides the
// tree itself (node_store.h): the exploration constants, the leaf-search
// settings, the draw values, the root exclusions and the progress figures.
// Written by thread 0 before the playout threads start (setMctsSession);
// during the search only the counters and the exclusion flags change.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/types.h"
#include "search/root_search.h"

// Fixed constants of the tree search.
constexpr double MCTS_EXPLORATION_EXPONENT = 0.43;  // U grows with visits^0.43
constexpr double MCTS_FIRST_VISIT_PENALTY = 0.02;   // a child seen once looks this much worse below the root
constexpr double MCTS_BUSY_PENALTY = 0.4;           // a child being expanded looks this much worse
constexpr double MCTS_VIRTUAL_LOSS_WEIGHT = 0.2;    // a playout in flight weighs as a fifth of a loss
constexpr double MCTS_UNDERPROMOTION_PENALTY = 0.1;
constexpr double MCTS_BUDGET_DECAY = 0.95;  // later siblings get smaller leaf budgets
constexpr double MCTS_MIN_CPUCT = 0.15;
// The search stops this many nodes per thread before the store is full, so
// that no expansion under way can run out of room.
constexpr int32_t MCTS_NODES_KEPT_FREE_PER_THREAD = 200;
// Root moves are searched to this depth (plies) when the tree is made: the
// first MCTS_DEEP_ROOT_MOVES a ply deeper than the rest.
constexpr int MCTS_ROOT_DEPTH = 7;
constexpr int MCTS_DEEP_ROOT_MOVES = 5;
// Playouts end where the playout stack does.
constexpr int MCTS_MAX_PLY = 120;
// The most threads a Monte-Carlo search uses.
constexpr int MCTS_MAX_THREADS = 128;

struct MctsSettings {
    double cpuct[2];  // exploration below the root: [0] on even plies, [1] on odd ones
    double cpuctRoot;
    int expansionDepth;  // leaf-search depth (plies) of the first children made at an expansion
    int32_t budgetSmall;
    int32_t budgetLarge;
    int threadCount;  // threads taking part in this search
};

// The constants of the search about to start, from "MCTS Explore", "MCTS
// Explore Root", "MCTS Optimism", the thread count and the target time.
MctsSettings computeMctsSettings(int threadCount, double targetTime);

extern MctsSettings mctsSettings;
// The win probability of a draw for each colour (0.5 unless "Armageddon"
// gives draws to one side).
extern double drawValueByColor[2];
// The deepest playout ply of this search.
extern std::atomic<int32_t> mctsSelDepth;
// Per root child (in child order): it can no longer become the most visited
// one, so root selection skips it.
extern std::atomic<uint8_t> rootExcluded[MAX_ROOT_MOVES + 1];
// The root's visits when this search began (after tree reuse).
extern int64_t startVisits;
// A tree search is running: the progress report shows the tree.
extern std::atomic<bool> treeSearchRunning;
// The "go depth" of this search; the progress report stops the search once
// the depth it shows reaches it.
extern int32_t mctsDepthLimit;

// Sets mctsSettings and drawValueByColor for a new search.
void setMctsSession(int threadCount, double targetTime, int32_t depthLimit);

// The win probability of a draw for the player of colour c.
inline double drawValueFor(Color c) {
    return drawValueByColor[c];
}
