// Keeping the tree between moves: when the new root is a grandchild of the
// old one (we played a move of the tree and the opponent answered with one),
// its subtree becomes the new tree and the rest is dropped.
#pragma once

#include "board/position.h"

// Looks for root among the grandchildren of the tree's root and, when it is
// there with a subtree worth keeping, moves that subtree to the front of
// the store with root as node 0. Sets startVisits (0 when nothing is kept).
// Returns whether the tree was kept. Only while no playout runs.
bool reuseTree(const Position& root, int rootMoveCount);
