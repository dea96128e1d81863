// The Monte-Carlo node store: one array of nodes shared by all playout
// threads, sized by "MCTS Hash" (16384 nodes per megabyte). Node 0 is the
// root; new nodes are handed out in blocks from the end of the used part and
// are never freed during a search. The store is made by the first search
// that needs it, lives for the process and is replaced only when the option
// changes, never during a search.
#pragma once

#include <atomic>
#include <cstdint>

#include "mcts/mcts_node.h"

constexpr int32_t MCTS_NODES_PER_MEGABYTE = 16384;

extern MctsNode* mctsNodes;
// Number of nodes the store holds.
extern int32_t mctsCapacity;
// Index of the last node in use; the next node handed out is mctsNodeCount + 1.
extern std::atomic<int32_t> mctsNodeCount;

// Replaces the store by a cleared one of `megabytes` MB. A size the machine
// cannot provide is refused: the old store (and its tree) stays and false is
// returned.
bool resizeNodeStore(int megabytes);

// Makes sure there is a store: the first Monte-Carlo search of the run
// builds one of `megabytes` MB, halving the size until the machine can give
// it, so that a run without tree searches never pays for one (an
// instrumented build fills the shadow of every allocated byte). False only
// when not even a megabyte can be had.
bool ensureNodeStore(int megabytes);

// Hands out `count` consecutive nodes and returns the index of the first, or
// 0 when the store has no room for them (then nothing is taken: the store
// never overflows).
int32_t takeNodes(int count);

// Forgets the tree: the next search builds a new root.
void clearTree();

inline MctsNode& mctsNode(int32_t index) {
    return mctsNodes[index];
}
