// One playout of the Monte-Carlo search: a descent from the root along the
// children with the best value plus exploration bonus, the expansion of the
// node it ends at (every child valued by a short alpha-beta search), or the
// refinement of a young child by a deeper search, and the backup of the
// result along the way. Several threads run playouts on the same tree.
#pragma once

#include "board/position.h"
#include "mcts/mcts_node.h"

// A playout's result: a win probability for the player who made the move
// leading to the node it started from, or valid = false when the playout
// was abandoned (a stop, a node another thread was expanding, a full store).
struct PlayoutResult {
    double value;
    bool valid;
};

// Gives every thread up to `threadCount` the position records a playout
// descends through. Called before the playout threads start.
void preparePlayoutStacks(int threadCount);

// One playout from node `index`, whose position is pos (owned by the calling
// thread), `ply` plies below the root.
PlayoutResult playout(int32_t index, Position& pos, int ply);

// A playout from the root (node 0, position root) whose result, when valid,
// is added to the root's statistics. Returns whether it was valid.
bool playRootPlayout(Position& root);

// Makes the children of node `index` (position pos, at `ply`) for the
// `count` legal moves in `moves`, each valued by a leaf search to its depth
// (the root's own depths at ply 0) or as a draw. At the root each child also
// counts as a visit of the root. Returns false, leaving the node without
// children, when the store has no room or (below the root) the thread was
// stopped.
bool createChildren(int32_t index, Position& pos, int ply, const Move* moves, int count);

// Divides the children's priors by their sum, when that is positive.
void normalisePriors(MctsNode& node);

// Whether the position a move has just made ends the game by repetition or
// the fifty-move rule, for a node `ply` plies below the root: near the root
// the position must have occurred twice before, deeper once. Needs checkers.
bool playoutChildDrawn(const Position& child, int ply);
