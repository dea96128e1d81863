#include "mcts/node_store.h"

#include <cstdlib>
#include <cstring>

#include "platform/large_pages.h"
#include "platform/system_memory.h"

MctsNode* mctsNodes = nullptr;
int32_t mctsCapacity = 0;
std::atomic<int32_t> mctsNodeCount{0};

namespace {

void* rawBlock = nullptr;

// The node count fits an int32_t: "MCTS Hash" goes to 32768 MB, which is
// 2^29 nodes.
constexpr int64_t MAX_MEGABYTES = int64_t(INT32_MAX) / MCTS_NODES_PER_MEGABYTE;

}  // namespace

// calloc hands out fresh zero pages for a large block, so a new store costs
// nothing until playouts reach its nodes. A block beyond the machine's
// physical memory is refused even where the system would promise it: the
// search would get the process killed once it filled the store.
bool resizeNodeStore(int megabytes) {
    if (megabytes <= 0 || megabytes > MAX_MEGABYTES) return false;
    uint64_t bytes = uint64_t(megabytes) * MCTS_NODES_PER_MEGABYTE * sizeof(MctsNode);
    uint64_t physical = physicalMemoryBytes();
    if (physical != 0 && bytes > physical) return false;
    void* block = std::calloc(1, size_t(bytes + LARGE_PAGE_BYTES - 1));
    if (!block) return false;
    std::free(rawBlock);
    rawBlock = block;
    uintptr_t aligned = (reinterpret_cast<uintptr_t>(block) + LARGE_PAGE_BYTES - 1) & ~(LARGE_PAGE_BYTES - 1);
    mctsNodes = reinterpret_cast<MctsNode*>(aligned);
    adviseLargePages(mctsNodes, size_t(bytes));
    mctsCapacity = int32_t(int64_t(megabytes) * MCTS_NODES_PER_MEGABYTE);
    mctsNodeCount.store(0);
    return true;
}

bool ensureNodeStore(int megabytes) {
    if (mctsNodes) return true;
    for (int mb = megabytes; mb >= 1; mb /= 2)
        if (resizeNodeStore(mb)) return true;
    return false;
}

int32_t takeNodes(int count) {
    int32_t last = mctsNodeCount.load(std::memory_order_relaxed);
    do {
        if (int64_t(last) + count >= mctsCapacity) return 0;
    } while (!mctsNodeCount.compare_exchange_weak(last, last + count, std::memory_order_relaxed));
    return last + 1;
}

void clearTree() {
    mctsNodeCount.store(0);
    if (mctsNodes) std::memset(static_cast<void*>(&mctsNodes[0]), 0, sizeof(MctsNode));
}
