#include "mcts/tree_reuse.h"

#include <algorithm>
#include <vector>

#include "mcts/mcts_session.h"
#include "mcts/node_store.h"
#include "search/search_session.h"

namespace {

// The grandchild of node 0 with the given key; 0 when there is none.
int32_t findGrandchild(Key key) {
    for (int32_t c = mctsNode(0).firstChild; c; c = mctsNode(c).nextSibling)
        for (int32_t g = mctsNode(c).firstChild; g; g = mctsNode(g).nextSibling)
            if (mctsNode(g).key == key) return g;
    return 0;
}

int childCount(const MctsNode& node) {
    int count = 0;
    for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling) count++;
    return count;
}

// Whether the subtree has been searched enough to be worth keeping.
bool worthKeeping(const MctsNode& node) {
    if (!node.firstChild || node.playouts <= 3.0) return false;
    for (int32_t c = node.firstChild; c; c = mctsNode(c).nextSibling)
        if (mctsNode(c).playouts > 1.0) return true;
    return false;
}

}  // namespace

// The subtree's nodes, sorted by index, move down to 0, 1, 2, ...: a node
// never moves up, so moving them in that order overwrites only nodes that
// have moved already. A node's new index is its place in the sorted list.
// Children are always made after their parent, so the new root, which has
// the smallest index of its subtree, becomes node 0.
// The root move list must match the kept root's children, which it does not
// when "searchmoves" (or a tablebase ranking) cut it down.
// A root ranked by the tablebases starts a new tree: the ranking may keep
// fewer moves than the tree was grown with.
bool reuseTree(const Position& root, int rootMoveCount) {
    startVisits = 0;
    if (rootInTablebase || mctsNodeCount.load() == 0) return false;
    int32_t found = findGrandchild(root.key);
    if (!found || !worthKeeping(mctsNode(found)) || childCount(mctsNode(found)) != rootMoveCount)
        return false;

    std::vector<int32_t> kept{found};
    for (size_t i = 0; i < kept.size(); i++)
        for (int32_t c = mctsNode(kept[i]).firstChild; c; c = mctsNode(c).nextSibling) kept.push_back(c);
    std::sort(kept.begin(), kept.end());
    auto newIndex = [&](int32_t old) {
        return old ? int32_t(std::lower_bound(kept.begin(), kept.end(), old) - kept.begin()) : 0;
    };

    mctsNode(found).nextSibling = 0;
    for (size_t i = 0; i < kept.size(); i++) {
        MctsNode node = mctsNode(kept[i]);
        node.firstChild = newIndex(node.firstChild);
        node.nextSibling = newIndex(node.nextSibling);
        node.busy = 0;
        node.playouts = double(node.visits);
        mctsNode(int32_t(i)) = node;
    }
    mctsNodeCount.store(int32_t(kept.size()) - 1);
    MctsNode& newRoot = mctsNode(0);
    newRoot.move = 0;
    newRoot.visits += 3;
    newRoot.playouts = double(newRoot.visits);
    startVisits = int64_t(newRoot.visits);
    return true;
}
