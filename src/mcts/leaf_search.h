// The alpha-beta searches that value the Monte-Carlo tree's nodes. Each is
// an iterative deepening of the window search over the position after a
// move, limited either by depth (when children are made) or by a node budget
// (when a young child is visited again, to refine its first estimate).
// Every one returns the score from the view of the player who made the
// move, and returns at once when the thread's stop flag is raised (its value
// then means nothing).
#pragma once

#include "board/position.h"
#include "eval/score.h"

// The search of a new child at `plies` plies: a ply more for a check, two
// less for a move that loses material or under-promotes. No search below
// two plies (score 0). Used at expansions and when the root's children are
// made.
Score leafSearchToDepth(const Position& parent, Position& child, Move m, int plies);

// The search of a child on its second or third visit, given `budget` nodes
// (budgetSmall or budgetLarge): children later in the list (selection index
// 2 on) get 5 % less per place, under-promotions half. The iterations stop
// once the thread has searched that many nodes.
Score leafSearchWithBudget(const Position& parent, Position& child, Move m, int32_t budget,
                           int selectionIndex);
